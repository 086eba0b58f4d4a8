#pragma once

#include <QWidget>

namespace Ui {
class PopWidget;
}

// A translucent pop-up container: a light card with curved corners whose
// contents are stacked vertically. Users give it the window flags they need
// (tool window, frameless) themselves.
class PopWidget : public QWidget
{
    Q_OBJECT

public:
    explicit PopWidget(QWidget *parent = nullptr);
    ~PopWidget() override;

    // Appends the widget below the ones added before; the container takes it over.
    void addContentWidget(QWidget *widget);

private:
    Ui::PopWidget *ui;
};
