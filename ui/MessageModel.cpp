#include "ui/MessageModel.h"

#include "data/MessageList.h"
#include "ui/DisplayText.h"
#include "ui/Images.h"

#include <QApplication>
#include <QPalette>

MessageModel::MessageModel(MessageList &list, QObject *parent)
    : QAbstractTableModel(parent), m_list(list), m_rows(list.count()) {}

void MessageModel::syncRowCount() {
    const int count = m_list.count();
    if (count > m_rows) {
        beginInsertRows(QModelIndex(), m_rows, count - 1);
        m_rows = count;
        endInsertRows();
    } else if (count < m_rows) {
        beginRemoveRows(QModelIndex(), count, m_rows - 1);
        m_rows = count;
        endRemoveRows();
    }
}

void MessageModel::reset() {
    beginResetModel();
    m_rows = m_list.count();
    endResetModel();
}

QModelIndex MessageModel::index(int row, int column, const QModelIndex &parent) const {
    if (parent.isValid() || row < 0 || row >= m_rows || column < 0 || column >= ColumnCount)
        return {};
    return createIndex(row, column);
}

int MessageModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : m_rows;
}

int MessageModel::columnCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : ColumnCount;
}

// The status column's words for a message that did not go, and the row's tip with the reason
// and the phone's own line; nothing for the others, whose icon says it all.
QString MessageModel::statusText(const Message &message, bool withReason) {
    QString text;
    if (message.status == MessageStatus::Failed)
        text = QStringLiteral("Failed");
    else if (message.status == MessageStatus::Unknown)
        text = QStringLiteral("Unknown");
    else
        return QString();
    if (withReason && !message.reason.isEmpty())
        text += QStringLiteral(": ") + message.reason;
    if (withReason && !message.error.isEmpty())
        text += QStringLiteral(" (%1)").arg(QString::fromLocal8Bit(message.error));
    return text;
}

QVariant MessageModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= m_rows)
        return {};
    const bool statusColumn = index.column() == StatusColumn;
    if (role == Qt::BackgroundRole && statusColumn)
        return QApplication::palette().brush(QPalette::Button);
    if (!(role == Qt::DecorationRole && statusColumn) && role != Qt::DisplayRole &&
        role != Qt::ToolTipRole)
        return {};
    // Another thread may have changed the list since the count was announced: a row past its
    // end shows nothing until the next refresh.
    Message message;
    {
        MessageList::Locker lock(m_list);
        if (std::size_t(index.row()) >= lock->size())
            return {};
        message = *(*lock)[index.row()];
    }
    if (role == Qt::ToolTipRole || (role == Qt::DisplayRole && statusColumn))
        return statusText(message, role == Qt::ToolTipRole);
    if (role == Qt::DecorationRole) {
        switch (message.status) {
        case MessageStatus::Pending:
            return roleIcon(ImageRole::MessagePending);
        case MessageStatus::Sending:
            return roleIcon(ImageRole::MessageSending);
        case MessageStatus::Sent:
            return roleIcon(ImageRole::MessageSent);
        case MessageStatus::Failed:
            return roleIcon(ImageRole::MessageFailed);
        case MessageStatus::Unknown:
            return roleIcon(ImageRole::MessageUnknown);
        }
        return {};
    }
    switch (index.column()) {
    case ToColumn:
        return QString::fromLocal8Bit(message.number);
    case MessageColumn:
        return oneLineText(message.text);
    case CreatedColumn:
        return oleDateText(message.created);
    case SentColumn:
        return oleDateText(message.sent);
    default:
        return {};
    }
}

QVariant MessageModel::headerData(int section, Qt::Orientation orientation, int role) const {
    if (orientation != Qt::Horizontal || role != Qt::DisplayRole)
        return {};
    switch (section) {
    case ToColumn:
        return QStringLiteral("To");
    case MessageColumn:
        return QStringLiteral("Message");
    case CreatedColumn:
        return QStringLiteral("Date Created");
    case SentColumn:
        return QStringLiteral("Date Sent");
    default:
        return QString();
    }
}

Qt::ItemFlags MessageModel::flags(const QModelIndex &index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}
