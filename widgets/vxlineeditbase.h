#pragma once

#include <QLineEdit>

// The value field of the settings panels: centred 12 px text in a 1 px
// frame whose colour tells the state (teal while focused, grey idle; owners
// paint it red for text they cannot read).
class VxLineEditBase : public QLineEdit
{
    Q_OBJECT

public:
    explicit VxLineEditBase(QWidget *parent = nullptr);

    // Replaces only the border declaration of the field's style sheet.
    void setBorderColor(const QString &color);

signals:
    // true when the field gains keyboard focus, false when it loses it.
    void signalMouseHoverd(bool focused);

protected:
    void focusInEvent(QFocusEvent *event) override;
    void focusOutEvent(QFocusEvent *event) override;
};
