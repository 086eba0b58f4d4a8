#include "widgets/settingbasewithlineedit.h"

#include "ui_settingbasewithlineedit.h"

#include "widgets/parameternames.h"
#include "widgets/vxtooltip.h"

namespace {
const QString kFocused = QStringLiteral("#004B6A");
const QString kIdle = QStringLiteral("#ACACAC");
const QString kInvalid = QStringLiteral("#FF6058");

bool readInt(const QString &text, int *value)
{
    bool ok = false;
    *value = text.toInt(&ok, 10);
    return ok;
}
} // namespace

SettingBaseWithLineEdit::SettingBaseWithLineEdit(const std::string &name, QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::SettingBaseWithLineEdit)
{
    ui->setupUi(this);
    m_min = ui->horizontalSlider->minimum();
    m_max = ui->horizontalSlider->maximum();
    ui->lb_set_item_name->setText(toParameterLabel(QString::fromStdString(name)));

    ui->widget_with_slider->hide();
    // A click on the slider keeps the focus in the field, so the slider row
    // stays open while it is used.
    ui->horizontalSlider->setFocusProxy(ui->le_vx_line_edit);
    connect(ui->le_vx_line_edit, &VxLineEditBase::signalMouseHoverd, this,
            &SettingBaseWithLineEdit::onFieldFocusChanged);
    connect(ui->le_vx_line_edit, &QLineEdit::editingFinished, this,
            &SettingBaseWithLineEdit::onEditingFinished);
}

SettingBaseWithLineEdit::~SettingBaseWithLineEdit()
{
    // The children are destroyed after this body; a focused field then loses
    // its focus and signals editingFinished, which must not reach this
    // half-destroyed item.
    ui->le_vx_line_edit->disconnect(this);
    ui->horizontalSlider->disconnect(this);
    delete ui;
}

QString SettingBaseWithLineEdit::parameterName() const
{
    return toParameterName(ui->lb_set_item_name->text());
}

void SettingBaseWithLineEdit::setRange(int min, int max)
{
    ui->horizontalSlider->setRange(min, max);
    m_min = min;
    m_max = max;
}

void SettingBaseWithLineEdit::setValue(int value)
{
    if (value < m_min || value > m_max)
        return;
    ui->le_vx_line_edit->setText(QString::number(value));
    ui->horizontalSlider->setValue(value);
}

void SettingBaseWithLineEdit::setUnit(const std::string &unit)
{
    if (unit.empty() || unit == " ")
        return;
    const QString text = QLatin1Char('(') + QString::fromStdString(unit) + QLatin1Char(')');
    ui->lb_unit->setText(text);
    // The unit keeps its whole width (up to the column's maximum) and leaves the
    // rest to the name, which is elided first.
    ui->lb_unit->ensurePolished();
    ui->lb_unit->setMinimumWidth(
        qMin(ui->lb_unit->maximumWidth(), ui->lb_unit->fontMetrics().horizontalAdvance(text) + 4));
}

void SettingBaseWithLineEdit::setValueCallback(ValueCallback callback)
{
    m_callback = std::move(callback);
}

void SettingBaseWithLineEdit::setValid(bool valid)
{
    ui->le_vx_line_edit->setBorderColor(valid ? kIdle : kInvalid);
}

void SettingBaseWithLineEdit::setItemToolTip(const QString &text)
{
    // A second call replaces the tip rather than stacking another one.
    delete m_toolTip;
    m_toolTip = new VxToolTip(text, 2, this);
    m_toolTip->setTarget(this);
}

void SettingBaseWithLineEdit::slotItemValueChanged(std::string name, int value)
{
    if (parameterName() != QString::fromStdString(name))
        return;
    // The slider follows through the text-changed slot, which reports the
    // value again only when the slider actually moves.
    ui->le_vx_line_edit->setText(QString::number(value));
}

void SettingBaseWithLineEdit::slotItemValueChanged(std::string name, float value)
{
    if (parameterName() != QString::fromStdString(name))
        return;
    // A fractional value does not read as an integer: the field shows it in
    // red and the slider stays where it is.
    ui->le_vx_line_edit->setText(QString::number(value, 'g', 6));
}

void SettingBaseWithLineEdit::on_horizontalSlider_valueChanged(int value)
{
    const QString text = QString::number(value);
    // Rewriting an identical text would only move the cursor to the end.
    if (ui->le_vx_line_edit->text() != text)
        ui->le_vx_line_edit->setText(text);

    const QString name = parameterName();
    emit signalItemValueChanged(name.toStdString(), value);
    if (m_callback)
        m_callback(name.toStdString(), value);
}

void SettingBaseWithLineEdit::on_le_vx_line_edit_textChanged(const QString &text)
{
    int value = 0;
    if (!readInt(text, &value)) {
        ui->le_vx_line_edit->setBorderColor(kInvalid);
        return;
    }
    // Every keystroke that leaves a readable number is applied; the slider
    // clamps it to the range.
    ui->horizontalSlider->setValue(value);
    if (ui->le_vx_line_edit->hasFocus())
        ui->le_vx_line_edit->setBorderColor(kFocused);
}

void SettingBaseWithLineEdit::onEditingFinished()
{
    int value = 0;
    if (!readInt(ui->le_vx_line_edit->text(), &value)) {
        ui->le_vx_line_edit->setBorderColor(kInvalid);
        return;
    }
    ui->horizontalSlider->setValue(value);
    // A number outside the range leaves the slider at the nearer end; when
    // the slider was there already nothing rewrote the field, so show the
    // value actually in force.
    if (ui->horizontalSlider->value() != value)
        ui->le_vx_line_edit->setText(QString::number(ui->horizontalSlider->value()));
}

void SettingBaseWithLineEdit::onFieldFocusChanged(bool focused)
{
    ui->widget_with_slider->setVisible(focused);
    // The field paints itself teal on focus in (the next keystroke marks the
    // text again) and grey on focus out. A field left holding text that does
    // not read was not applied, so it must not look accepted: it stays red.
    int value = 0;
    if (!focused && !readInt(ui->le_vx_line_edit->text(), &value))
        ui->le_vx_line_edit->setBorderColor(kInvalid);
}

void SettingBaseWithLineEdit::stepBy(int step)
{
    int value = 0;
    if (!readInt(ui->le_vx_line_edit->text(), &value))
        return;
    // Compared without forming value + step, which could overflow.
    if (step > 0 ? value >= m_max : value <= m_min)
        return;
    ui->horizontalSlider->setValue(value + step);
    if (ui->le_vx_line_edit->hasFocus())
        ui->le_vx_line_edit->setBorderColor(kFocused);
}

void SettingBaseWithLineEdit::on_pb_add_item_value_clicked()
{
    stepBy(1);
}

void SettingBaseWithLineEdit::on_pb_sub_item_value_clicked()
{
    stepBy(-1);
}
