#pragma once

#include <QLabel>

// A one-line label that ends in "..." when it is narrower than its text,
// instead of pushing its row wider than the panel. text() stays the whole
// text (setting items derive their parameter name from it).
class VxElidedLabel : public QLabel
{
    Q_OBJECT

public:
    explicit VxElidedLabel(QWidget *parent = nullptr);

    QSize minimumSizeHint() const override;

protected:
    void paintEvent(QPaintEvent *event) override;
};
