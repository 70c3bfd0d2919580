#pragma once

#include <QStyledItemDelegate>

// Draws cells as usual; a cell whose text is cut shows the whole text as its tooltip, above
// the model's own tip for the row (a failed message's reason), which stays.
class CellTipDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;

    // Whether the cell's text is wider than the room it has.
    bool isCut(const QStyleOptionViewItem &option, const QModelIndex &index) const;
    // The tooltip a cell shows; empty for none.
    QString cellTip(const QStyleOptionViewItem &option, const QModelIndex &index) const;

    bool helpEvent(QHelpEvent *event, QAbstractItemView *view, const QStyleOptionViewItem &option,
                   const QModelIndex &index) override;
};
