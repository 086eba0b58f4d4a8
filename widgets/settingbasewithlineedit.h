#pragma once

#include <QWidget>

#include <functional>
#include <string>

namespace Ui {
class SettingBaseWithLineEdit;
}

class VxToolTip;

// An integer camera parameter: label, optional unit and a value field with
// step buttons; while the field has the focus a slider row appears under it.
// The item stores no name: it derives it from its label whenever needed.
class SettingBaseWithLineEdit : public QWidget
{
    Q_OBJECT

public:
    // Asked after every reported value; answers whether the camera took it.
    using ValueCallback = std::function<bool(std::string name, int value)>;

    explicit SettingBaseWithLineEdit(const std::string &name, QWidget *parent = nullptr);
    ~SettingBaseWithLineEdit() override;

    void setRange(int min, int max);
    // Ignored outside the range set by setRange.
    void setValue(int value);
    void setUnit(const std::string &unit);
    void setValueCallback(ValueCallback callback);
    // Grey border when valid, red when not.
    void setValid(bool valid);
    void setItemToolTip(const QString &text);

signals:
    void signalItemValueChanged(std::string name, int value);

public slots:
    // Values for another parameter name are ignored.
    void slotItemValueChanged(std::string name, int value);
    void slotItemValueChanged(std::string name, float value);

private slots:
    void on_horizontalSlider_valueChanged(int value);
    void on_le_vx_line_edit_textChanged(const QString &text);
    void on_pb_add_item_value_clicked();
    void on_pb_sub_item_value_clicked();

private:
    QString parameterName() const;
    void onEditingFinished();
    void onFieldFocusChanged(bool focused);
    void stepBy(int step);

    Ui::SettingBaseWithLineEdit *ui;
    int m_min = 0;
    int m_max = 99;
    ValueCallback m_callback;
    VxToolTip *m_toolTip = nullptr;
};
