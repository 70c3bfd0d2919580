#include "ui/ExplorerModel.h"

#include "ui/Images.h"

#include <QApplication>
#include <QPainter>

TExplorerModel::TExplorerModel(QObject *parent) : QAbstractListModel(parent) {}

const TNodeData &TExplorerModel::Node(int index) const {
    static const TNodeData none;
    if (index < 0 || index >= NodeCount)
        return none;
    if (!FInitialised[index]) {
        FInitialised[index] = true;
        static const struct {
            const char *Caption;
            TImageRole Image;
        } table[NodeCount] = {
            {"Compose", TImageRole::Compose}, {"Contacts", TImageRole::Contacts},
            {"Outbox", TImageRole::Outbox},   {"Phone", TImageRole::Phone},
            {"Sent", TImageRole::Sent},
        };
        TNodeData &node = FNodes[index];
        node.Caption = QString::fromLatin1(table[index].Caption);
        node.Image = table[index].Image;
        node.View = InitNode ? InitNode(index) : nullptr;
    }
    return FNodes[index];
}

int TExplorerModel::rowCount(const QModelIndex &parent) const {
    return parent.isValid() ? 0 : NodeCount;
}

QVariant TExplorerModel::data(const QModelIndex &index, int role) const {
    if (!index.isValid() || index.row() >= NodeCount)
        return {};
    const TNodeData &node = Node(index.row());
    switch (role) {
    case Qt::DisplayRole:
        return node.Caption;
    case Qt::DecorationRole:
        if (node.Image)
            return RoleIcon(*node.Image);
        return {};
    case ExtraTextRole:
        return ExtraText ? ExtraText(index.row()) : QString();
    default:
        return {};
    }
}

Qt::ItemFlags TExplorerModel::flags(const QModelIndex &index) const {
    if (!index.isValid())
        return Qt::NoItemFlags;
    return Qt::ItemIsEnabled | Qt::ItemIsSelectable | Qt::ItemNeverHasChildren;
}

void TExplorerDelegate::paint(QPainter *painter, const QStyleOptionViewItem &option,
                              const QModelIndex &index) const {
    QStyleOptionViewItem opt(option);
    initStyleOption(&opt, index);
    const QString extra = index.data(TExplorerModel::ExtraTextRole).toString();
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

QSize TExplorerDelegate::sizeHint(const QStyleOptionViewItem &option,
                                  const QModelIndex &index) const {
    QSize size = QStyledItemDelegate::sizeHint(option, index);
    const QString extra = index.data(TExplorerModel::ExtraTextRole).toString();
    if (!extra.isEmpty())
        size.rwidth() += ExtraGap + option.fontMetrics.horizontalAdvance(extra);
    return size;
}
