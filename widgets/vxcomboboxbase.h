#pragma once

#include <QComboBox>

// The combo box inside VxComboBox: a plain list pop-up without focus frames
// or drop shadow that tells when it opens and closes (the owner colours its
// halo then), and that never changes its value on a mouse wheel turn.
class VXComboBoxBase : public QComboBox
{
    Q_OBJECT

public:
    explicit VXComboBoxBase(QWidget *parent = nullptr);

    void showPopup() override;
    void hidePopup() override;

signals:
    void popupShown();
    void popupHidden();

protected:
    // Side panels scroll under the mouse; a wheel turn over a combo box must
    // scroll the panel, not change a camera parameter.
    void wheelEvent(QWheelEvent *event) override;
};
