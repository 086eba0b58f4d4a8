#include "widgets/settingbasewithswitchbutton.h"

#include "ui_settingbasewithswitchbutton.h"

#include "widgets/parameternames.h"
#include "widgets/vxtooltip.h"

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
    // A second call replaces the tip rather than stacking another one.
    delete m_toolTip;
    m_toolTip = new VxToolTip(text, 2, this);
    m_toolTip->setTarget(this);
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
