#include "ui/MessageModel.h"

#include "data/MessageList.h"
#include "ui/DisplayText.h"
#include "ui/Images.h"

#include <QApplication>
#include <QPalette>

#include <algorithm>

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

int MessageModel::moveSentTo(MessageList &sent) {
    syncRowCount();
    auto leaving = std::make_unique<Leaving>();
    int moved = 0;
    {
        MessageList::Locker outbox(m_list);
        moved = m_list.moveSentTo(sent, &leaving->runs);
        if (moved == 0)
            return 0;
        MessageList::Locker sentItems(sent);
        leaving->records.assign(sentItems->end() - moved, sentItems->end());
    }
    leaving->offsets.reserve(leaving->runs.size() + 1);
    int total = 0;
    for (const RowRun &run : leaving->runs) {
        leaving->offsets.push_back(total);
        total += run.count;
    }
    leaving->offsets.push_back(total);
    m_leaving = std::move(leaving);
    struct Done {
        std::unique_ptr<Leaving> &leaving;
        ~Done() { leaving.reset(); }
    } done{m_leaving};
    // In list order: each run's rows are numbered after the runs before it have gone.
    for (std::size_t j = 0; j < m_leaving->runs.size(); ++j) {
        const RowRun &run = m_leaving->runs[j];
        const int first = run.first - m_leaving->offsets[j];
        beginRemoveRows(QModelIndex(), first, first + run.count - 1);
        m_leaving->announced = j + 1;
        m_rows -= run.count;
        endRemoveRows();
    }
    return moved;
}

MessageList::Item MessageModel::record(int row) const {
    if (row < 0 || row >= m_rows)
        return nullptr;
    MessageList::Locker lock(m_list);
    return recordAt(*lock, row);
}

MessageList::Item MessageModel::recordAt(const MessageList::Items &items, int row) const {
    std::size_t index = std::size_t(row);
    if (m_leaving) {
        const Leaving &leaving = *m_leaving;
        const int gone = leaving.offsets[leaving.announced];
        // The last run not yet announced that begins at or before row.
        const auto begin = leaving.runs.begin() + std::ptrdiff_t(leaving.announced);
        auto run = std::upper_bound(begin, leaving.runs.end(), row + gone,
                                    [](int value, const RowRun &r) { return value < r.first; });
        if (run != begin) {
            --run;
            const std::size_t j = std::size_t(run - leaving.runs.begin());
            const int start = run->first - gone;
            if (row < start + run->count)
                return leaving.records[std::size_t(leaving.offsets[j] + row - start)];
            index = std::size_t(row - (leaving.offsets[j + 1] - gone));
        }
    }
    return index < items.size() ? items[index] : nullptr;
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

QString MessageModel::deliveryText(const Message &message, bool withDetail) {
    QString text;
    switch (message.delivery) {
    case DeliveryState::None:
        return QString();
    case DeliveryState::Delivered:
        text = QStringLiteral("Delivered");
        break;
    case DeliveryState::Undelivered:
        text = QStringLiteral("Not delivered");
        break;
    case DeliveryState::Expired:
        text = QStringLiteral("Expired");
        break;
    }
    if (withDetail && !message.deliveryDetail.isEmpty())
        text += QStringLiteral(" (%1)").arg(message.deliveryDetail);
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
        const MessageList::Item item = recordAt(*lock, index.row());
        if (!item)
            return {};
        message = item->toMessage();
    }
    if (index.column() == DeliveryColumn)
        return deliveryText(message, role == Qt::ToolTipRole);
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
    case PhoneColumn:
        return message.phone;
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
    case PhoneColumn:
        return QStringLiteral("Phone");
    case DeliveryColumn:
        return QStringLiteral("Delivery");
    default:
        return QString();
    }
}

Qt::ItemFlags MessageModel::flags(const QModelIndex &index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}
