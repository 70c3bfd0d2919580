#include "ui/ContactModel.h"

#include "data/ContactList.h"
#include "resources/ImageRoles.h"

#include <QApplication>
#include <QBrush>
#include <QIcon>
#include <QPalette>

#include <optional>

namespace {

// A copy of contact row, or nothing when the list has become shorter than the rows.
std::optional<Contact> readContact(ContactList &list, int row) {
    ContactList::Locker lock(list);
    if (row < 0 || std::size_t(row) >= lock->size())
        return std::nullopt;
    return *(*lock)[row];
}

const QIcon &rowIcon(bool checked) {
    static const QIcon on(imageRolePath(ImageRole::ContactChecked));
    static const QIcon off(imageRolePath(ImageRole::ContactUnchecked));
    return checked ? on : off;
}

QVariant cellValue(const Contact &contact, int row, int column, int role) {
    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case ContactModel::NameColumn:
            return contact.name.isEmpty() ? QStringLiteral("<Contact #%1>").arg(row + 1)
                                          : contact.name;
        case ContactModel::NumberColumn:
            return contact.number.isEmpty() ? QStringLiteral("<Phone #%1>").arg(row + 1)
                                            : QString::fromLocal8Bit(contact.number);
        case ContactModel::SentCountColumn:
            return QString::number(contact.sentCount);
        default:
            return {};
        }
    case Qt::DecorationRole:
        if (column == ContactModel::NameColumn)
            return rowIcon(contact.checked != 0);
        return {};
    case Qt::CheckStateRole:
        if (column == ContactModel::CheckColumn)
            return contact.checked != 0 ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::BackgroundRole:
        if (column == ContactModel::CheckColumn)
            return QApplication::palette().brush(QPalette::Button);
        return {};
    default:
        return {};
    }
}

} // namespace

ContactModel::ContactModel(ContactList &list, QObject *parent)
    : QAbstractTableModel(parent), m_list(list) {}

void ContactModel::setRowCount(int count) {
    if (m_filtered) {
        reset(count);
        return;
    }
    count = std::max(count, 0);
    if (count > m_rowCount) {
        beginInsertRows(QModelIndex(), m_rowCount, count - 1);
        m_rowCount = count;
        endInsertRows();
    } else if (count < m_rowCount) {
        beginRemoveRows(QModelIndex(), count, m_rowCount - 1);
        m_rowCount = count;
        endRemoveRows();
    }
}

void ContactModel::reset(int count) {
    beginResetModel();
    m_filtered = false;
    m_listIndices.clear();
    m_rowCount = std::max(count, 0);
    endResetModel();
}

void ContactModel::setFilter(QList<int> listIndices) {
    beginResetModel();
    m_filtered = true;
    m_listIndices = std::move(listIndices);
    m_rowCount = static_cast<int>(m_listIndices.size());
    endResetModel();
}

int ContactModel::listIndex(int row) const {
    if (!m_filtered)
        return row;
    return row >= 0 && row < m_listIndices.size() ? m_listIndices[row] : -1;
}

int ContactModel::rowOf(int listIndex) const {
    return m_filtered ? static_cast<int>(m_listIndices.indexOf(listIndex)) : listIndex;
}

int ContactModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : m_rowCount;
}

int ContactModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant ContactModel::data(const QModelIndex &index, int role) const {
    QModelRoleData roleData(role);
    multiData(index, roleData);
    return roleData.data();
}

void ContactModel::multiData(const QModelIndex &index, QModelRoleDataSpan roleDataSpan) const {
    for (QModelRoleData &roleData : roleDataSpan)
        roleData.clearData();
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return;
    // One copy of the contact serves every role the delegate asks for.
    const int listRow = listIndex(index.row());
    const std::optional<Contact> contact = readContact(m_list, listRow);
    if (!contact)
        return;
    for (QModelRoleData &roleData : roleDataSpan)
        roleData.setData(cellValue(*contact, listRow, index.column(), roleData.role()));
}

bool ContactModel::setData(const QModelIndex &index, const QVariant &value, int role) {
    if (role != Qt::CheckStateRole || index.column() != CheckColumn ||
        !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    const int row = index.row();
    const int listRow = listIndex(row);
    const quint8 checked = static_cast<Qt::CheckState>(value.toInt()) == Qt::Checked ? 1 : 0;
    {
        // Changed in place under the lock rather than read and written back: a sent count
        // that the sender raises in between is kept.
        ContactList::Locker lock(m_list);
        if (listRow < 0 || std::size_t(listRow) >= lock->size())
            return false;
        (*lock)[listRow]->checked = checked;
    }
    m_list.changed();
    Q_EMIT dataChanged(this->index(row, CheckColumn), this->index(row, NameColumn));
    Q_EMIT checkClicked(row);
    return true;
}

Qt::ItemFlags ContactModel::flags(const QModelIndex &index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == CheckColumn)
        result |= Qt::ItemIsUserCheckable;
    return result;
}

QVariant ContactModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case NameColumn:
        return QStringLiteral("Name");
    case NumberColumn:
        return QStringLiteral("Number");
    case SentCountColumn:
        return QStringLiteral("Sent Count");
    default:
        return {};
    }
}
