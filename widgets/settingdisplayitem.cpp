#include "widgets/settingdisplayitem.h"

#include "ui_settingdisplayitem.h"

#include "widgets/vxcombobox.h"
#include "widgets/vxcomboboxbase.h"

#include <QLineEdit>

#include <cmath>

namespace {

const QString kBorderActive = QStringLiteral("border: 1px solid #004B6A;");
const QString kBorderIdle = QStringLiteral("border: 1px solid #A7A7A7;");
const QString kBorderInvalid = QStringLiteral("border: 1px solid #FF6058;");
const QString kHaloValid = QStringLiteral("#D7E7EE");
const QString kHaloInvalid = QStringLiteral("#FFDAD8");

constexpr double kMinSlowRate = 0.03;
constexpr double kMaxSlowRate = 1000.0;
// Slow rate 1 is 30 pictures per second of event time.
constexpr double kFpsPerSlowRate = 30.0;

QLineEdit *lineEditOf(VxComboBox *box)
{
    return box->innerComboBox()->lineEdit();
}

} // namespace

SettingDisplayItem::SettingDisplayItem(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::SettingDisplayItem)
{
    ui->setupUi(this);
    setMouseTracking(true);

    VxComboBox *accumulation = ui->widget_combobox_accumulation_time;
    VxComboBox *slowRate = ui->widget_combobox_frame_rate;

    // Entries first: the starting values are already in force in the
    // receivers and must not be reported.
    accumulation->innerComboBox()->addItems(
        {QStringLiteral("33.33ms"), QStringLiteral("100ms"), QStringLiteral("10ms"), QStringLiteral("1ms")});
    slowRate->innerComboBox()->addItems({QStringLiteral("1"), QStringLiteral("2"), QStringLiteral("5"),
                                         QStringLiteral("10"), QStringLiteral("100"), QStringLiteral("1000")});

    connect(accumulation, &VxComboBox::signalLineEditTextChanged, this,
            &SettingDisplayItem::slotAccumulationTimeTextChanged);
    connect(accumulation, &VxComboBox::signalLineEditEditingFinished, this,
            &SettingDisplayItem::slotAccumulationTimeTextEditFinished);
    connect(accumulation->innerComboBox(), &QComboBox::currentTextChanged, this,
            &SettingDisplayItem::slotAccumulationTimeTextChanged);
    connect(slowRate, &VxComboBox::signalLineEditTextChanged, this, &SettingDisplayItem::slotFrameRateTextChanged);
    connect(slowRate, &VxComboBox::signalLineEditEditingFinished, this,
            &SettingDisplayItem::slotFrameRateEditTextFinished);

    accumulation->setEditable(true);
    slowRate->setEditable(true);
    keepInvalidHalo(accumulation, &m_accumulationValid);
    keepInvalidHalo(slowRate, &m_slowRateValid);
}

SettingDisplayItem::~SettingDisplayItem()
{
    delete ui;
}

void SettingDisplayItem::setSlowRateEnabled(bool enabled)
{
    ui->widget_combobox_frame_rate->setEnabled(enabled);
}

VxComboBox *SettingDisplayItem::accumulationTimeBox() const
{
    return ui->widget_combobox_accumulation_time;
}

VxComboBox *SettingDisplayItem::slowRateBox() const
{
    return ui->widget_combobox_frame_rate;
}

uint64_t SettingDisplayItem::parseAccumulationTime(const QString &text)
{
    double unitUs = 0.0;
    if (text.endsWith(QLatin1String("ms"), Qt::CaseInsensitive))
        unitUs = 1000.0;
    else if (text.endsWith(QLatin1String("us"), Qt::CaseInsensitive))
        unitUs = 1.0;
    else
        return 0;

    bool ok = false;
    const double value = text.chopped(2).toDouble(&ok);
    // Converting a negative or huge double to an unsigned integer is
    // undefined; such texts are simply invalid.
    if (!ok || !std::isfinite(value) || value < 0.0)
        return 0;
    const double us = value * unitUs;
    if (us > double(kMaxAccumulationTimeUs))
        return kMaxAccumulationTimeUs + 1;
    // Fractions of a microsecond are dropped, but decimal input has no exact
    // binary form: without the tolerance "0.7ms" would give 699 us.
    return uint64_t(std::floor(us + 1e-6));
}

QString SettingDisplayItem::completeAccumulationTime(const QString &text)
{
    if (text.endsWith(QLatin1String("ms"), Qt::CaseInsensitive)
        || text.endsWith(QLatin1String("us"), Qt::CaseInsensitive))
        return text;
    return text + QStringLiteral("ms");
}

std::optional<uint32_t> SettingDisplayItem::slowRateToFps(const QString &text)
{
    bool ok = false;
    const double rate = text.toDouble(&ok);
    if (!ok || !(rate >= kMinSlowRate && rate <= kMaxSlowRate))
        return std::nullopt;
    // The tolerance keeps e.g. 4.1 x 30 (122.99999...) at 123.
    const auto fps = uint32_t(std::floor(rate * kFpsPerSlowRate + 1e-9));
    if (fps == 0)
        return std::nullopt;
    return fps;
}

bool SettingDisplayItem::isValidAccumulationTime(uint64_t time_us)
{
    return time_us != 0 && time_us <= kMaxAccumulationTimeUs;
}

void SettingDisplayItem::markValidity(VxComboBox *box, bool valid)
{
    box->setStyleProperty(QStringLiteral("border"), valid ? kBorderActive : kBorderInvalid);
    box->setHaloColor(valid ? kHaloValid : kHaloInvalid);
    if (!valid)
        box->update();
}

void SettingDisplayItem::keepInvalidHalo(VxComboBox *box, const bool *valid)
{
    // Connected after setEditable(true), so these run after the combo box's
    // own handlers of the same signals.
    auto reapply = [box, valid] {
        if (!*valid)
            box->setHaloColor(kHaloInvalid);
    };
    connect(lineEditOf(box), &QLineEdit::textChanged, this, reapply);
    connect(lineEditOf(box), &QLineEdit::editingFinished, this, reapply);
}

void SettingDisplayItem::slotAccumulationTimeTextChanged(const QString &text)
{
    m_accumulationValid = isValidAccumulationTime(parseAccumulationTime(completeAccumulationTime(text)));
    markValidity(ui->widget_combobox_accumulation_time, m_accumulationValid);
}

void SettingDisplayItem::slotAccumulationTimeTextEditFinished()
{
    if (m_writingBack)
        return;
    VxComboBox *box = ui->widget_combobox_accumulation_time;
    QLineEdit *edit = lineEditOf(box);
    const QString text = edit->text();
    const int cursor = edit->cursorPosition();
    const QString completed = completeAccumulationTime(text);
    const uint64_t time_us = parseAccumulationTime(completed);
    if (!isValidAccumulationTime(time_us))
        return; // the red marking of the text-changed slot stays

    if (completed != text) {
        m_writingBack = true;
        edit->setText(completed);
        edit->setCursorPosition(cursor);
        m_writingBack = false;
    }
    box->setStyleProperty(QStringLiteral("border"), kBorderIdle);
    emit signalCumulativeTimeChanged(time_us);
}

void SettingDisplayItem::slotFrameRateTextChanged(const QString &text)
{
    m_slowRateValid = slowRateToFps(text).has_value();
    markValidity(ui->widget_combobox_frame_rate, m_slowRateValid);
}

void SettingDisplayItem::slotFrameRateEditTextFinished()
{
    VxComboBox *box = ui->widget_combobox_frame_rate;
    const std::optional<uint32_t> fps = slowRateToFps(lineEditOf(box)->text());
    if (!fps)
        return;
    box->setStyleProperty(QStringLiteral("border"), kBorderIdle);
    emit signalFpsChanged(*fps);
}
