#pragma once

#include <QMetaObject>
#include <QWidget>

class VXComboBoxBase;

namespace Ui {
class VxComboBox;
}

// A combo box in a 2 px halo frame. The inner combo box always has a line
// edit; setEditable decides whether it can be typed in and whether its edits
// are forwarded. The halo is pale blue while the list is open or the text is
// being edited and transparent otherwise.
class VxComboBox : public QWidget
{
    Q_OBJECT

public:
    explicit VxComboBox(QWidget *parent = nullptr);
    ~VxComboBox() override;

    VXComboBoxBase *innerComboBox() const;

    // true: text can be typed and every edit is forwarded as
    // signalLineEditTextChanged / signalLineEditEditingFinished;
    // false: the text is read-only and nothing is forwarded.
    void setEditable(bool editable);

    // Colour of the 2 px halo around the box.
    void setHaloColor(const QString &color);
    // Text colour of the inner combo box.
    void setTextColor(const QString &color);
    // Replaces the first declaration starting with key in the inner combo
    // box's style sheet by text (text is a whole declaration).
    void setStyleProperty(const QString &key, const QString &text);

signals:
    void signalLineEditTextChanged(const QString &text);
    void signalLineEditEditingFinished();

protected:
    bool eventFilter(QObject *watched, QEvent *event) override;

private slots:
    void on_cb_combox_in_widget_currentTextChanged(const QString &text);

private:
    Ui::VxComboBox *ui;
    QMetaObject::Connection m_textChangedConnection;
    QMetaObject::Connection m_editingFinishedConnection;
    // Clicks on read-only text: open the list at the release of a press
    // that did not just close it.
    bool m_openOnRelease = false;
    bool m_listJustClosed = false;
};
