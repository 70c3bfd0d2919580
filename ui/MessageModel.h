#pragma once

#include "data/MessageList.h"

#include <QAbstractTableModel>

#include <memory>
#include <vector>

// The rows of a messages view: row i is message i of the list, read as a copy under the
// list's lock whenever a cell is asked for. The model keeps only the row count it has
// announced; syncRowCount brings it to the list's count.
class MessageModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column {
        StatusColumn,
        ToColumn,
        MessageColumn,
        CreatedColumn,
        SentColumn,
        PhoneColumn,
        DeliveryColumn,
        ColumnCount
    };

    explicit MessageModel(MessageList &list, QObject *parent = nullptr);

    MessageList &list() const { return m_list; }

    // Announces rows added at or removed from the end. Nothing is announced when the count
    // is unchanged; the caller repaints what is shown.
    void syncRowCount();
    // Moves the list's sent messages to the end of sent (MessageList::moveSentTo) and tells the
    // views which rows left, run by run, so that the selection and the current row stay on
    // their messages. Returns the number moved.
    int moveSentTo(MessageList &sent);
    // The record in row as the views know the rows, or null; takes the list's lock.
    MessageList::Item record(int row) const;
    // Forgets every row and takes the list's count afresh (after removals in the middle).
    void reset();

    // Without the generic checks' virtual calls: the list control asks for every row's index
    // when it lays its rows out.
    QModelIndex index(int row, int column,
                      const QModelIndex &parent = QModelIndex()) const override;
    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    // "Failed" or "Unknown" (with the reason and the phone's line when withReason); empty else.
    static QString statusText(const Message &message, bool withReason);
    // "Delivered", "Not delivered" or "Expired" (with the receipt's detail when withDetail);
    // empty before a receipt came.
    static QString deliveryText(const Message &message, bool withDetail);
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    // While moveSentTo announces its runs one at a time, the runs not yet announced are still
    // rows of the views although their records have left the list.
    struct Leaving {
        std::vector<RowRun> runs;
        std::vector<int> offsets; // records of the runs before run j: offsets[j]
        std::vector<MessageList::Item> records;
        std::size_t announced = 0;
    };

    MessageList::Item recordAt(const MessageList::Items &items, int row) const;

    MessageList &m_list;
    int m_rows = 0;
    std::unique_ptr<Leaving> m_leaving;
};
