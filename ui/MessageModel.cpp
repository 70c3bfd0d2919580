#include "ui/MessageModel.h"

#include "data/MessageUnit.h"
#include "ui/DisplayText.h"
#include "ui/Images.h"

#include <QApplication>
#include <QPalette>

TMessageListModel::TMessageListModel(TMessageList &list, QObject *parent)
    : QAbstractTableModel(parent), FList(list), FRows(list.Count()) {}

void TMessageListModel::SyncRowCount() {
    const int count = FList.Count();
    if (count > FRows) {
        beginInsertRows(QModelIndex(), FRows, count - 1);
        FRows = count;
        endInsertRows();
    } else if (count < FRows) {
        beginRemoveRows(QModelIndex(), count, FRows - 1);
        FRows = count;
        endRemoveRows();
    }
}

void TMessageListModel::Reset() {
    beginResetModel();
    FRows = FList.Count();
    endResetModel();
}

QModelIndex TMessageListModel::index(int row, int column, const QModelIndex &parent) const {
    if (parent.isValid() || row < 0 || row >= FRows || column < 0 || column >= ColumnCount)
        return {};
    return createIndex(row, column);
}

int TMessageListModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : FRows;
}

int TMessageListModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

QVariant TMessageListModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= FRows)
        return {};
    const bool statusColumn = index.column() == colStatus;
    if (role == Qt::BackgroundRole && statusColumn)
        return QApplication::palette().brush(QPalette::Button);
    if (!(role == Qt::DecorationRole && statusColumn) &&
        !(role == Qt::DisplayRole && !statusColumn))
        return {};
    // Another thread may have changed the list since the count was announced: a row past its
    // end shows nothing until the next refresh.
    TMessage message;
    {
        TMessageList::TLocker lock(FList);
        if (std::size_t(index.row()) >= lock->size())
            return {};
        message = *(*lock)[index.row()];
    }
    if (role == Qt::DecorationRole) {
        switch (message.Status) {
        case msPending:
            return RoleIcon(TImageRole::MessagePending);
        case msSending:
            return RoleIcon(TImageRole::MessageSending);
        case msSent:
            return RoleIcon(TImageRole::MessageSent);
        }
        return {};
    }
    switch (index.column()) {
    case colTo:
        return QString::fromLocal8Bit(message.Number);
    case colMessage:
        return OneLineText(message.Text);
    case colCreated:
        return OleDateText(message.Created);
    case colSent:
        return OleDateText(message.Sent);
    default:
        return {};
    }
}

QVariant TMessageListModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case colTo:
        return QStringLiteral("To");
    case colMessage:
        return QStringLiteral("Message");
    case colCreated:
        return QStringLiteral("Date Created");
    case colSent:
        return QStringLiteral("Date Sent");
    default:
        return QString();
    }
}

Qt::ItemFlags TMessageListModel::flags(const QModelIndex &index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}
