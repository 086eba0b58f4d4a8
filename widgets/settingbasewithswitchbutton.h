#pragma once

#include <QWidget>

#include <string>

namespace Ui {
class SettingBaseWithSwitchButton;
}

class VxToolTip;

// A boolean camera parameter: label and an on/off switch. The item stores
// no name: it derives it from its label whenever needed.
class SettingBaseWithSwitchButton : public QWidget
{
    Q_OBJECT

public:
    explicit SettingBaseWithSwitchButton(const std::string &name, QWidget *parent = nullptr);
    ~SettingBaseWithSwitchButton() override;

    // Sets the switch without reporting it.
    void setChecked(bool checked);
    void setItemToolTip(const QString &text);

signals:
    void signalItemValueChanged(std::string name, bool value);

public slots:
    // Values for another parameter name are ignored; nothing is reported.
    void slotItemValueChanged(std::string name, bool value);

private slots:
    void on_switchButton_clicked();

private:
    QString parameterName() const;

    Ui::SettingBaseWithSwitchButton *ui;
    VxToolTip *m_toolTip = nullptr;
};
