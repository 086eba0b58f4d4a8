#pragma once

#include <QStyledItemDelegate>

// Paints list entries without the dotted focus frame around the current one.
class NoFocusFrameDelegate : public QStyledItemDelegate
{
    Q_OBJECT

public:
    using QStyledItemDelegate::QStyledItemDelegate;

    void paint(QPainter *painter, const QStyleOptionViewItem &option,
               const QModelIndex &index) const override;
};
