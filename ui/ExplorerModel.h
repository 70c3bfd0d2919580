#pragma once

#include "resources/ImageRoles.h"

#include <QAbstractListModel>
#include <QStyledItemDelegate>

#include <array>
#include <functional>
#include <optional>

class QWidget;

// What an explorer node holds: the folder's caption (also what the View menu looks for), the
// view shown when the node is chosen (not owned) and its picture.
struct TNodeData {
    QString Caption;
    QWidget *View = nullptr;
    std::optional<TImageRole> Image;
};

// The explorer's five folders. Besides its caption each node shows a second text (a count in
// parentheses, the phone's model) that is asked for whenever the node is drawn.
class TExplorerModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum TNode { ndCompose, ndContacts, ndOutbox, ndPhone, ndSent, NodeCount };
    // The text shown after the caption, in blue.
    static constexpr int ExtraTextRole = Qt::UserRole + 1;

    explicit TExplorerModel(QObject *parent = nullptr);

    // The node's record, filled from its index on first use through InitNode.
    const TNodeData &Node(int index) const;
    // Gives each node its view when it is first initialised.
    std::function<QWidget *(int index)> InitNode;
    std::function<QString(int index)> ExtraText;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    mutable std::array<TNodeData, NodeCount> FNodes;
    mutable std::array<bool, NodeCount> FInitialised{};
};

// Draws a node as the caption in the list's own font and colour followed by the second text
// in blue; neither is bold.
class TExplorerDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    static constexpr int ExtraGap = 4;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
