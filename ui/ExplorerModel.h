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
struct NodeData {
    QString caption;
    QWidget *view = nullptr;
    std::optional<ImageRole> image;
};

// The explorer's five folders. Besides its caption each node shows a second text (a count in
// parentheses, the phone's model) that is asked for whenever the node is drawn.
class ExplorerModel : public QAbstractListModel {
    Q_OBJECT
public:
    enum Node { ComposeNode, ContactsNode, OutboxNode, PhoneNode, SentNode, NodeCount };
    // The text shown after the caption, in blue.
    static constexpr int ExtraTextRole = Qt::UserRole + 1;

    explicit ExplorerModel(QObject *parent = nullptr);

    // The node's record, filled from its index on first use through initNode.
    const NodeData &nodeAt(int index) const;
    // Gives each node its view when it is first initialised.
    std::function<QWidget *(int index)> initNode;
    std::function<QString(int index)> extraText;

    int rowCount(const QModelIndex &parent = QModelIndex()) const override;
    QVariant data(const QModelIndex &index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex &index) const override;

private:
    mutable std::array<NodeData, NodeCount> m_nodes;
    mutable std::array<bool, NodeCount> m_initialised{};
};

// Draws a node as the caption in the list's own font and colour followed by the second text
// in blue; neither is bold.
class ExplorerDelegate : public QStyledItemDelegate {
    Q_OBJECT
public:
    using QStyledItemDelegate::QStyledItemDelegate;
    static constexpr int ExtraGap = 4;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
    QSize sizeHint(const QStyleOptionViewItem &option, const QModelIndex &index) const override;
};
