#pragma once

#include "base/Error.h"

#include "data/ListMutex.h"
#include <QList>
#include <QMutexLocker>

#include <algorithm>
#include <atomic>
#include <functional>
#include <limits>
#include <memory>
#include <utility>
#include <vector>

// The ordered, thread-safe container behind the message and contact lists.
//
// Every operation holds the list's re-entrant lock for its whole run. Records are owned
// through counted references (shared pointers unless the list says otherwise): whoever copies one
// of the pointers under the lock (a worker that claims a record with lockList) keeps the record
// alive after another thread deletes it from the list; the list's lock still guards the record's
// fields. onChange is called after the lock has been released, on the thread that made the change.
// Assign it before the list is shared between threads.
//
// Record is the value the list takes and gives; Stored is what it keeps (the same type unless
// the list keeps a more compact form), owned through ItemType. A list whose Stored differs
// declares makeItem, valueOf and overwrite for it.
template <typename Record, typename Self, typename Stored = Record,
          typename ItemType = std::shared_ptr<Stored>>
class RecordList {
public:
    using Item = ItemType;
    using Items = std::vector<Item>;
    using ChangeEvent = std::function<void(Self &list)>;

    // Holds the list's lock for its own lifetime and gives direct access to the records.
    class Locker {
    public:
        explicit Locker(RecordList &list) : m_list(list), m_items(list.lockList()) {}
        ~Locker() { m_list.unlockList(); }
        Locker(const Locker &) = delete;
        Locker &operator=(const Locker &) = delete;

        Items &items() const { return m_items; }
        Items &operator*() const { return m_items; }
        Items *operator->() const { return &m_items; }

    private:
        RecordList &m_list;
        Items &m_items;
    };

    RecordList(const RecordList &) = delete;
    RecordList &operator=(const RecordList &) = delete;

    ChangeEvent onChange;

    int count() const {
        QMutexLocker lock(&m_lock);
        return static_cast<int>(m_items.size());
    }

    // A copy of the record at index.
    Record get(int index) const {
        QMutexLocker lock(&m_lock);
        checkIndex(index);
        return Self::valueOf(*m_items[index]);
    }

    // Appends a copy; returns its index.
    int add(const Record &record) {
        int index;
        {
            QMutexLocker lock(&m_lock);
            if (m_items.size() >= std::size_t(std::numeric_limits<int>::max()))
                countError(std::numeric_limits<int>::max());
            index = static_cast<int>(m_items.size());
            m_items.push_back(self().makeItem(record));
            self().itemsAppended(std::size_t(index));
        }
        changed();
        return index;
    }

    // Overwrites the record at index with a copy of the given one (the record keeps its
    // identity, so a holder of its pointer sees the new values).
    void put(int index, const Record &record) {
        {
            QMutexLocker lock(&m_lock);
            checkIndex(index);
            Self::overwrite(*m_items[index], record);
            self().itemOverwritten(std::size_t(index));
        }
        changed();
    }

    void remove(int index) {
        Item removed;
        {
            QMutexLocker lock(&m_lock);
            checkIndex(index);
            removed = std::move(m_items[index]);
            m_items.erase(m_items.begin() + index);
            self().itemsRemoved(QList<int>{index}, Items{removed});
        }
        removed.reset();
        changed();
    }

    // Removes the records at the given indices in one pass: the same result as deleting them
    // one by one from the highest index down. Repeated indices count once. Any index out of
    // range fails before anything is removed (the highest one above the range, else the lowest
    // below it). Notifies once when something was removed.
    void removeMany(QList<int> indices) {
        if (indices.isEmpty())
            return;
        std::sort(indices.begin(), indices.end());
        indices.erase(std::unique(indices.begin(), indices.end()), indices.end());
        Items removed;
        {
            QMutexLocker lock(&m_lock);
            checkIndex(indices.back());
            checkIndex(indices.front());
            removed.reserve(indices.size());
            std::size_t write = indices.front();
            qsizetype next = 0;
            for (std::size_t read = write; read < m_items.size(); ++read) {
                if (next < indices.size() && std::size_t(indices[next]) == read) {
                    removed.push_back(std::move(m_items[read]));
                    ++next;
                } else {
                    m_items[write++] = std::move(m_items[read]);
                }
            }
            m_items.resize(write);
            self().itemsRemoved(indices, removed);
        }
        removed.clear();
        changed();
    }

    // Empties the list and notifies, also when it was empty.
    void clear() {
        Items removed;
        {
            QMutexLocker lock(&m_lock);
            removed.swap(m_items);
            self().itemsReplaced();
        }
        removed.clear();
        changed();
    }

    // The current index of a record (found by address), or -1 when it is no longer in the
    // list. Looks at hint first, then downwards from it (where a record moves when records
    // before it are deleted), then upwards: O(1) when the record has not moved, O(distance
    // moved) after deletions before it, O(Count) at worst.
    int indexOf(const Stored *record, int hint = -1) const {
        QMutexLocker lock(&m_lock);
        int count = static_cast<int>(m_items.size());
        if (count == 0 || record == nullptr)
            return -1;
        int start = (hint >= 0 && hint < count) ? hint : count - 1;
        for (int i = start; i >= 0; --i) {
            if (m_items[i].get() == record)
                return i;
        }
        for (int i = start + 1; i < count; ++i) {
            if (m_items[i].get() == record)
                return i;
        }
        return -1;
    }

    // Takes the lock and gives direct access to the records; the caller may change them in
    // place and add, remove or move entries, then calls unlockList (and Changed if the
    // document changed). Prefer Locker.
    Items &lockList() {
        m_lock.lock();
        return m_items;
    }
    void unlockList() { m_lock.unlock(); }

    // Grows at every notified change and every load: a reader that summarised the records can
    // tell whether it must read them again.
    quint64 changeCount() const { return m_changeCount.load(std::memory_order_relaxed); }

    // Raises onChange, if assigned. Call without holding the lock.
    void changed() {
        m_changeCount.fetch_add(1, std::memory_order_relaxed);
        if (onChange)
            onChange(static_cast<Self &>(*this));
    }

protected:
    RecordList() = default;
    Self &self() { return static_cast<Self &>(*this); }
    ~RecordList() = default;

    void checkIndex(int index) const {
        if (index < 0 || std::size_t(index) >= m_items.size())
            throw Error(QStringLiteral("List index out of bounds (%1)").arg(index));
    }

    [[noreturn]] static void countError(qint64 count) {
        throw Error(QStringLiteral("List count out of bounds (%1)").arg(count));
    }

    // Puts a completely read sequence in place of the current one; the old records are freed
    // after the lock has been released.
    void replaceItems(Items &&items) {
        {
            QMutexLocker lock(&m_lock);
            m_items.swap(items);
            self().itemsReplaced();
        }
        m_changeCount.fetch_add(1, std::memory_order_relaxed);
        items.clear();
    }

    // A new item holding a copy of the record, made under the lock (after the last item).
    Item makeItem(const Record &record) const { return std::make_shared<Stored>(record); }
    static const Record &valueOf(const Stored &stored) { return stored; }
    static void overwrite(Stored &stored, const Record &record) { stored = record; }

    // What a list that keeps more than the sequence (an index) hears of the changes the
    // operations above make, under the lock, after the change. The list declares its own
    // versions and befriends RecordList. Direct access through lockList tells nothing.
    void itemsAppended(std::size_t /*first*/) {}
    void itemOverwritten(std::size_t /*index*/) {}
    // indices: sorted, each once, as they were before the removal.
    void itemsRemoved(const QList<int> & /*indices*/, const Items & /*removed*/) {}
    void itemsReplaced() {}

    mutable ListMutex m_lock;
    Items m_items;
    std::atomic<quint64> m_changeCount{0};
};
