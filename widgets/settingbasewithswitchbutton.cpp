#include "widgets/settingbasewithswitchbutton.h"

#include "ui_settingbasewithswitchbutton.h"

#include "widgets/parameternames.h"

SettingBaseWithSwitchButton::SettingBaseWithSwitchButton(const std::string &name, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::SettingBaseWithSwitchButton)
{
    ui->setupUi(this);
    ui->lb_item_name->setText(toParameterLabel(QString::fromStdString(name)));
}

SettingBaseWithSwitchButton::~SettingBaseWithSwitchButton()
{
    delete ui;
}

QString SettingBaseWithSwitchButton::parameterName() const
{
    return toParameterName(ui->lb_item_name->text());
}

void SettingBaseWithSwitchButton::setChecked(bool checked)
{
    ui->switchButton->setChecked(checked);
}

void SettingBaseWithSwitchButton::setItemToolTip(const QString &text)
{
    Q_UNUSED(text);
}

void SettingBaseWithSwitchButton::slotItemValueChanged(std::string name, bool value)
{
    if (parameterName() == QString::fromStdString(name))
        ui->switchButton->setChecked(value);
}

void SettingBaseWithSwitchButton::on_switchButton_clicked()
{
    emit signalItemValueChanged(parameterName().toStdString(), ui->switchButton->isChecked());
}
