#pragma once

#include "app/Errors.h"

#include "data/ListMutex.h"
#include <QList>
#include <QMutexLocker>

#include <algorithm>
#include <functional>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

// The ordered, thread-safe container behind the message and contact lists.
//
// Every operation holds the list's re-entrant lock for its whole run. Records are owned
// through shared pointers: whoever copies one of the pointers under the lock (a worker that
// claims a record with LockList) keeps the record alive after another thread deletes it from
// the list; the list's lock still guards the record's fields. OnChange is called after the
// lock has been released, on the thread that made the change. Assign it before the list is
// shared between threads.
template <typename TRecord, typename TSelf>
class TRecordList {
public:
    using TItem = std::shared_ptr<TRecord>;
    using TItems = std::vector<TItem>;
    using TChangeEvent = std::function<void(TSelf &list)>;

    // Holds the list's lock for its own lifetime and gives direct access to the records.
    class TLocker {
    public:
        explicit TLocker(TRecordList &list) : FList(list), FItems(list.LockList()) {}
        ~TLocker() { FList.UnlockList(); }
        TLocker(const TLocker &) = delete;
        TLocker &operator=(const TLocker &) = delete;

        TItems &Items() const { return FItems; }
        TItems &operator*() const { return FItems; }
        TItems *operator->() const { return &FItems; }

    private:
        TRecordList &FList;
        TItems &FItems;
    };

    TRecordList(const TRecordList &) = delete;
    TRecordList &operator=(const TRecordList &) = delete;

    TChangeEvent OnChange;

    int Count() const {
        QMutexLocker lock(&FLock);
        return static_cast<int>(FItems.size());
    }

    // A copy of the record at index.
    TRecord Get(int index) const {
        QMutexLocker lock(&FLock);
        CheckIndex(index);
        return *FItems[index];
    }

    // Appends a copy; returns its index.
    int Add(const TRecord &record) {
        auto item = std::make_shared<TRecord>(record);
        int index;
        {
            QMutexLocker lock(&FLock);
            if (FItems.size() >= std::size_t(std::numeric_limits<int>::max()))
                CountError(std::numeric_limits<int>::max());
            index = static_cast<int>(FItems.size());
            FItems.push_back(std::move(item));
        }
        Changed();
        return index;
    }

    // Overwrites the record at index with a copy of the given one (the record keeps its
    // identity, so a holder of its pointer sees the new values).
    void Put(int index, const TRecord &record) {
        {
            QMutexLocker lock(&FLock);
            CheckIndex(index);
            *FItems[index] = record;
        }
        Changed();
    }

    void Delete(int index) {
        TItem removed;
        {
            QMutexLocker lock(&FLock);
            CheckIndex(index);
            removed = std::move(FItems[index]);
            FItems.erase(FItems.begin() + index);
        }
        removed.reset();
        Changed();
    }

    // Removes the records at the given indices in one pass: the same result as deleting them
    // one by one from the highest index down. Repeated indices count once. Any index out of
    // range fails before anything is removed (the highest one above the range, else the lowest
    // below it). Notifies once when something was removed.
    void DeleteMany(QList<int> indices) {
        if (indices.isEmpty())
            return;
        std::sort(indices.begin(), indices.end());
        indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
        TItems removed;
        {
            QMutexLocker lock(&FLock);
            CheckIndex(indices.back());
            CheckIndex(indices.front());
            removed.reserve(indices.size());
            std::size_t write = indices.front();
            qsizetype next = 0;
            for (std::size_t read = write; read < FItems.size(); ++read) {
                if (next < indices.size() && std::size_t(indices[next]) == read) {
                    removed.push_back(std::move(FItems[read]));
                    ++next;
                } else {
                    FItems[write++] = std::move(FItems[read]);
                }
            }
            FItems.resize(write);
        }
        removed.clear();
        Changed();
    }

    // Empties the list and notifies, also when it was empty.
    void Clear() {
        TItems removed;
        {
            QMutexLocker lock(&FLock);
            removed.swap(FItems);
        }
        removed.clear();
        Changed();
    }

    // The current index of a record (found by address), or -1 when it is no longer in the
    // list. Looks at hint first, then downwards from it (where a record moves when records
    // before it are deleted), then upwards: O(1) when the record has not moved, O(distance
    // moved) after deletions before it, O(Count) at worst.
    int IndexOf(const TRecord *record, int hint = -1) const {
        QMutexLocker lock(&FLock);
        int count = static_cast<int>(FItems.size());
        if (count == 0 || record == nullptr)
            return -1;
        int start = (hint >= 0 && hint < count) ? hint : count - 1;
        for (int i = start; i >= 0; --i) {
            if (FItems[i].get() == record)
                return i;
        }
        for (int i = start + 1; i < count; ++i) {
            if (FItems[i].get() == record)
                return i;
        }
        return -1;
    }

    // Takes the lock and gives direct access to the records; the caller may change them in
    // place and add, remove or move entries, then calls UnlockList (and Changed if the
    // document changed). Prefer TLocker.
    TItems &LockList() {
        FLock.lock();
        return FItems;
    }
    void UnlockList() { FLock.unlock(); }

    // Raises OnChange, if assigned. Call without holding the lock.
    void Changed() {
        if (OnChange)
            OnChange(static_cast<TSelf &>(*this));
    }

protected:
    TRecordList() = default;
    ~TRecordList() = default;

    void CheckIndex(int index) const {
        if (index < 0 || std::size_t(index) >= FItems.size())
            throw EPelorvane(QStringLiteral("List index out of bounds (%1)").arg(index));
    }

    [[noreturn]] static void CountError(qint64 count) {
        throw EPelorvane(QStringLiteral("List count out of bounds (%1)").arg(count));
    }

    // Puts a completely read sequence in place of the current one; the old records are freed
    // after the lock has been released.
    void ReplaceItems(TItems &&items) {
        {
            QMutexLocker lock(&FLock);
            FItems.swap(items);
        }
        items.clear();
    }

    mutable TListMutex FLock;
    TItems FItems;
};
