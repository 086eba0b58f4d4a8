#include "widgets/settingbasewithcombobox.h"

#include "ui_settingbasewithcombobox.h"

#include "widgets/parameternames.h"
#include "widgets/vxtooltip.h"
#include "widgets/vxcomboboxbase.h"

#include <QLineEdit>

SettingBaseWithComboBox::SettingBaseWithComboBox(const std::string &name, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::SettingBaseWithComboBox)
{
    ui->setupUi(this);
    ui->lb_set_item_name->setText(toParameterLabel(QString::fromStdString(name)));
    ui->cb_item->setEditable(false);
    // Options come from the camera and may be long: the box takes the width of
    // its panel instead of widening the panel to its longest option.
    ui->cb_item->innerComboBox()->setSizeAdjustPolicy(QComboBox::AdjustToMinimumContentsLengthWithIcon);
    ui->cb_item->innerComboBox()->setMinimumContentsLength(4);
    connect(ui->cb_item->innerComboBox(), &QComboBox::currentTextChanged, this,
            &SettingBaseWithComboBox::cbCurrentTextChanged);
}

SettingBaseWithComboBox::~SettingBaseWithComboBox()
{
    // The combo box outlives this body; nothing it signals while being
    // destroyed may reach this item.
    ui->cb_item->innerComboBox()->disconnect(this);
    delete ui;
}

QString SettingBaseWithComboBox::parameterName() const
{
    return toParameterName(ui->lb_set_item_name->text());
}

void SettingBaseWithComboBox::addItem(const QString &text)
{
    ui->cb_item->innerComboBox()->addItem(text);
}

void SettingBaseWithComboBox::setItemToolTip(const QString &text)
{
    // A second call replaces the tip rather than stacking another one.
    delete m_toolTip;
    m_toolTip = new VxToolTip(text, 2, this);
    m_toolTip->setTarget(ui->cb_item);
}

void SettingBaseWithComboBox::slotItemValueChanged(std::string name, std::string value)
{
    if (parameterName() != QString::fromStdString(name))
        return;
    VXComboBoxBase *combo = ui->cb_item->innerComboBox();
    const QString text = QString::fromStdString(value);
    // The inner box is editable, where setCurrentText would only rewrite the
    // line edit; select the entry so the list agrees with the text.
    const int index = combo->findText(text, Qt::MatchExactly);
    if (index >= 0)
        combo->setCurrentIndex(index);
    else
        combo->setCurrentText(text);
}

void SettingBaseWithComboBox::cbCurrentTextChanged(const QString &text)
{
    // A text longer than the box reads from its start.
    if (QLineEdit *edit = ui->cb_item->innerComboBox()->lineEdit())
        edit->setCursorPosition(0);
    emit signalItemValueChanged(parameterName().toStdString(), text.toStdString());
}
