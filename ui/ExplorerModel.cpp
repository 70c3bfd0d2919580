#include "ui/ExplorerModel.h"

#include "ui/Images.h"

#include <QApplication>
#include <QPainter>

ExplorerModel::ExplorerModel(QObject *parent) : QAbstractListModel(parent) {}

const NodeData &ExplorerModel::nodeAt(int index) const {
    static const NodeData none;
    if (index < 0 || index >= NodeCount)
        return none;
    if (!m_initialised[index]) {
        m_initialised[index] = true;
        static const struct {
            const char *caption;
            ImageRole image;
        } table[NodeCount] = {
            {"Compose", ImageRole::Compose}, {"Contacts", ImageRole::Contacts},
            {"Outbox", ImageRole::Outbox},   {"Phone", ImageRole::Phone},
            {"Sent", ImageRole::Sent},
        };
        NodeData &node = m_nodes[index];
        node.caption = QString::fromLatin1(table[index].caption);
        node.image = table[index].image;
        node.view = initNode ? initNode(index) : nullptr;
    }
    return m_nodes[index];
}

int ExplorerModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : NodeCount;
}

QVariant ExplorerModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= NodeCount)
        return {};
    const NodeData &node = nodeAt(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return node.caption;
    case Qt::DecorationRole:
        if (node.image)
            return roleIcon(*node.image);
        return {};
    case ExtraTextRole:
        return extraText ? extraText(index.row()) : QString();
    default:
        return {};
    }
}

Qt::ItemFlags ExplorerModel::flags(const QModelIndex &index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void ExplorerDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                             const QModelIndex &index) const {
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QString extra = index.data(ExplorerModel::ExtraTextRole).toString();
    QStyle *style = opt.widget ? opt.widget->style() : QApplication::style();
    style->drawControl(QStyle::CE_ItemViewItem, &opt, painter, opt.widget);
    if (extra.isEmpty())
        return;
    const QRect textRect = style->subElementRect(QStyle::SE_ItemViewItemText, &opt, opt.widget);
    const int margin = style->pixelMetric(QStyle::PM_FocusFrameHMargin, nullptr, opt.widget) + 1;
    const int captionWidth = opt.fontMetrics.horizontalAdvance(opt.text);
    QRect extraRect = textRect.adjusted(margin + captionWidth + ExtraGap, 0, 0, 0);
    if (extraRect.width() <= 0)
        return;
    painter->save();
    painter->setFont(opt.font);
    painter->setPen(QColor(0, 0, 255));
    painter->drawText(extraRect, Qt::AlignLeft | Qt::AlignVCenter | Qt::TextSingleLine,
                      opt.fontMetrics.elidedText(extra, Qt::ElideRight, extraRect.width()));
    painter->restore();
}

QSize ExplorerDelegate::sizeHint(const QStyleOptionViewItem &option,
                                 const QModelIndex &index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QString extra = index.data(ExplorerModel::ExtraTextRole).toString();
    if (!extra.isEmpty())
        size.rwidth() += ExtraGap + option.fontMetrics.horizontalAdvance(extra);
    return size;
}
