#include "ui/ContactModel.h"

#include "data/ContactUnit.h"
#include "resources/ImageRoles.h"

#include <QApplication>
#include <QBrush>
#include <QIcon>
#include <QPalette>

#include <optional>

namespace {

// A copy of contact row, or nothing when the list has become shorter than the rows.
std::optional<TContact> ReadContact(TContactList &list, int row) {
    TContactList::TLocker lock(list);
    if (row < 0 || std::size_t(row) >= lock->size())
        return std::nullopt;
    return *(*lock)[row];
}

const QIcon &RowIcon(bool checked) {
    static const QIcon on(ImageRolePath(TImageRole::ContactChecked));
    static const QIcon off(ImageRolePath(TImageRole::ContactUnchecked));
    return checked ? on : off;
}

QVariant CellValue(const TContact &contact, int row, int column, int role) {
    switch (role) {
    case Qt::DisplayRole:
        switch (column) {
        case TContactModel::colName:
            return contact.Name.isEmpty() ? QStringLiteral("<Contact #%1>").arg(row + 1)
                                          : contact.Name;
        case TContactModel::colNumber:
            return contact.Number.isEmpty() ? QStringLiteral("<Phone #%1>").arg(row + 1)
                                            : QString::fromLocal8Bit(contact.Number);
        case TContactModel::colSentCount:
            return QString::number(contact.SentCount);
        default:
            return {};
        }
    case Qt::DecorationRole:
        if (column == TContactModel::colName)
            return RowIcon(contact.Checked != 0);
        return {};
    case Qt::CheckStateRole:
        if (column == TContactModel::colCheck)
            return contact.Checked != 0 ? Qt::Checked : Qt::Unchecked;
        return {};
    case Qt::BackgroundRole:
        if (column == TContactModel::colCheck)
            return QApplication::palette().brush(QPalette::Button);
        return {};
    default:
        return {};
    }
}

} // namespace

TContactModel::TContactModel(TContactList &list, QObject *parent)
    : QAbstractTableModel(parent), FList(list) {}

void TContactModel::SetRowCount(int count) {
    count = std::max(count, 0);
    if (count > FRowCount) {
        beginInsertRows(QModelIndex(), FRowCount, count - 1);
        FRowCount = count;
        endInsertRows();
    } else if (count < FRowCount) {
        beginRemoveRows(QModelIndex(), count, FRowCount - 1);
        FRowCount = count;
        endRemoveRows();
    }
}

void TContactModel::Reset(int count) {
    beginResetModel();
    FRowCount = std::max(count, 0);
    endResetModel();
}

int TContactModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : FRowCount;
}

int TContactModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TContactModel::data(const QModelIndex &index, int role) const {
    QModelRoleData roleData(role);
    multiData(index, roleData);
    return roleData.data();
}

void TContactModel::multiData(const QModelIndex &index, QModelRoleDataSpan roleDataSpan) const {
    for (QModelRoleData &roleData : roleDataSpan)
        roleData.clearData();
    if (!checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return;
    // One copy of the contact serves every role the delegate asks for.
    const std::optional<TContact> contact = ReadContact(FList, index.row());
    if (!contact)
        return;
    for (QModelRoleData &roleData : roleDataSpan)
        roleData.setData(CellValue(*contact, index.row(), index.column(), roleData.role()));
}

bool TContactModel::setData(const QModelIndex &index, const QVariant &value, int role) {
    if (role != Qt::CheckStateRole || index.column() != colCheck ||
        !checkIndex(index, CheckIndexOption::IndexIsValid | CheckIndexOption::ParentIsInvalid))
        return false;
    const int row = index.row();
    const quint8 checked = static_cast<Qt::CheckState>(value.toInt()) == Qt::Checked ? 1 : 0;
    {
        // Changed in place under the lock rather than read and written back: a sent count
        // that the sender raises in between is kept.
        TContactList::TLocker lock(FList);
        if (std::size_t(row) >= lock->size())
            return false;
        (*lock)[row]->Checked = checked;
    }
    FList.Changed();
    Q_EMIT dataChanged(this->index(row, colCheck), this->index(row, colName));
    Q_EMIT CheckClicked(row);
    return true;
}

Qt::ItemFlags TContactModel::flags(const QModelIndex &index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    Qt::ItemFlags result = Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
    if (index.column() == colCheck)
        result |= Qt::ItemIsUserCheckable;
    return result;
}

QVariant TContactModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case colName:
        return QStringLiteral("Name");
    case colNumber:
        return QStringLiteral("Number");
    case colSentCount:
        return QStringLiteral("Sent Count");
    default:
        return {};
    }
}
