#pragma once

#include <QAbstractTableModel>

class ContactList;

// The contacts view's rows: row i is contact i of the list, read as a copy each time a cell
// is asked for. The row count changes only through setRowCount, so the rows stay consistent
// for the view while the list changes underneath; a row past the list's end shows nothing.
class ContactModel : public QAbstractTableModel {
    Q_OBJECT
public:
    enum Column { CheckColumn, NameColumn, NumberColumn, SentCountColumn, ColumnCount };

    explicit ContactModel(ContactList &list, QObject *parent = nullptr);

    ContactList &list() const { return m_list; }

    // Grows or shrinks the rows at their end, which keeps the selection of the rows that stay.
    // The rows' contents are read when drawn: a repaint of the view shows them afresh (a
    // dataChanged over every row would cost the view a pass over all of them).
    void setRowCount(int count);
    // Drops every row and then takes count rows: for changes that moved rows, such as a
    // deletion (the selection goes with them). Ends a filter.
    void reset(int count);

    // Shows only the contacts at these list indices, in this order (a filter such as the
    // duplicates); the selection goes.
    void setFilter(QList<int> listIndices);
    bool isFiltered() const { return m_filtered; }
    // The list index a row shows (itself without a filter), and the row showing a list index
    // (-1 when the filter hides it).
    int listIndex(int row) const;
    int rowOf(int listIndex) const;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    int columnCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    void multiData(const QModelIndex &index, QModelRoleDataSpan roleDataSpan) const override;
    bool setData(const QModelIndex &index, const QVariant &value, int role) override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;
    QVariant headerData(int section, Qt::Orientation orientation,
                        int role = Qt::DisplayRole) const override;

Q_SIGNALS:
    // The user changed a row's check box; the contact has been written back with Put.
    void checkClicked(int row);

private:
    ContactList &m_list;
    int m_rowCount = 0;
    bool m_filtered = false;
    QList<int> m_listIndices; // while filtered: the list index of each row
};
