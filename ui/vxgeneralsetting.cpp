#include "ui/vxgeneralsetting.h"
#include "ui_vxgeneralsetting.h"

#include "app/appsettings.h"
#include "widgets/vxcombobox.h"
#include "widgets/vxcomboboxbase.h"
#include "widgets/vxwindowagent.h"

#include <QFileDialog>
#include <QTabBar>

#include <limits>

const QString VxGeneralSetting::kRisingEdge = QStringLiteral("Rising Edge");
const QString VxGeneralSetting::kFallingEdge = QStringLiteral("Falling Edge");

namespace {
// Scheme names are stored as they are and never translated.
const QStringList kColorSchemes = {QStringLiteral("Gray"), QStringLiteral("Dark"), QStringLiteral("RedBlue"),
                                   QStringLiteral("RedGreen"), QStringLiteral("Light")};
} // namespace

VxGeneralSetting::VxGeneralSetting(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::VxGeneralSetting)
{
    ui->setupUi(this);
    ui->tw_settings->tabBar()->hide();
    m_windowAgent = new VxWindowAgent(this);
    m_windowAgent->setup(this);
    m_windowAgent->setTitleBar(ui->widget_title_bar);
    m_windowAgent->setHitTestVisible(ui->pb_win_close, true);

    m_settings = &AppSettings::instance();

    // Only the listed entries mean something to the readers of the store:
    // the texts are chosen from the list, not typed.
    ui->cb_trigger_in_edge->setEditable(false);
    ui->widget_combobox_color_theme->setEditable(false);

    loadFromSettings();
    ui->lw_general_setting_items->setCurrentRow(0);
}

VxGeneralSetting::~VxGeneralSetting()
{
    delete ui;
}

void VxGeneralSetting::loadFromSettings()
{
    ui->le_default_file_path->setText(m_settings->outputRawFilePath);
    ui->le_default_video_file_path->setText(m_settings->videoSavePath);

    VXComboBoxBase *edge = ui->cb_trigger_in_edge->innerComboBox();
    edge->addItem(tr("Rising Edge"));
    edge->addItem(tr("Falling Edge"));
    ui->sb_trigger_in_rec_enable->setChecked(m_settings->triggerInRecEnable);
    // Anything but the exact rising-edge value, an empty text included, is
    // shown as the falling edge.
    edge->setCurrentIndex(m_settings->triggerInEdgeType == kRisingEdge ? 0 : 1);

    ui->le_trigger_in_before_time->setText(QString::number(m_settings->beforeTriggerInSaveTime));
    ui->le_trigger_in_after_time->setText(QString::number(m_settings->afterTriggerInSaveTime));

    VXComboBoxBase *colors = ui->widget_combobox_color_theme->innerComboBox();
    colors->addItems(kColorSchemes);
    // The inner combo box is editable, where setCurrentText() would only set
    // the text and leave the list on its first entry.
    const int colorIndex = colors->findText(m_settings->colorType);
    if (colorIndex >= 0)
        colors->setCurrentIndex(colorIndex);
    else
        colors->setEditText(m_settings->colorType); // unknown stored name: shown, kept on Save
}

void VxGeneralSetting::on_lw_general_setting_items_currentRowChanged(int currentRow)
{
    if (currentRow >= 0 && currentRow < ui->tw_settings->count())
        ui->tw_settings->setCurrentIndex(currentRow);
}

void VxGeneralSetting::on_pb_win_close_clicked()
{
    close();
}

void VxGeneralSetting::on_pb_cancel_clicked()
{
    close();
}

void VxGeneralSetting::on_pb_save_clicked()
{
    m_settings->videoSavePath = ui->le_default_video_file_path->text();
    m_settings->outputRawFilePath = ui->le_default_file_path->text();
    m_settings->triggerInRecEnable = ui->sb_trigger_in_rec_enable->isChecked();
    m_settings->triggerInEdgeType =
        ui->cb_trigger_in_edge->innerComboBox()->currentIndex() == 1 ? kFallingEdge : kRisingEdge;
    m_settings->beforeTriggerInSaveTime = readSeconds(ui->le_trigger_in_before_time);
    m_settings->afterTriggerInSaveTime = readSeconds(ui->le_trigger_in_after_time);
    m_settings->colorType = ui->widget_combobox_color_theme->innerComboBox()->currentText();
    m_settings->save();
    emit signalTriggerInSaveFileParamChanged();
    accept();
}

void VxGeneralSetting::on_pb_select_dir_clicked()
{
    chooseDirectory(m_settings->outputRawFilePath, ui->le_default_file_path);
}

void VxGeneralSetting::on_pb_select_video_save_path_clicked()
{
    chooseDirectory(m_settings->videoSavePath, ui->le_default_video_file_path);
}

void VxGeneralSetting::chooseDirectory(const QString &startDir, QLineEdit *target)
{
    // Starts in the stored folder, not in what the field shows now.
    const QString dir = QFileDialog::getExistingDirectory(this, tr("Select Directory"), startDir,
                                                          QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (!dir.isEmpty())
        target->setText(dir);
}

uint32_t VxGeneralSetting::readSeconds(const QLineEdit *edit)
{
    bool ok = false;
    const uint value = edit->text().trimmed().toUInt(&ok, 10);
    return ok ? uint32_t(value) : 0;
}

void VxGeneralSetting::stepSeconds(QLineEdit *edit, int step)
{
    const uint32_t value = readSeconds(edit);
    if (step < 0 && value == 0)
        return;
    // The store holds 32 bits; plus stops at the largest count instead of wrapping to 0.
    if (step > 0 && value == std::numeric_limits<uint32_t>::max())
        return;
    edit->setText(QString::number(step > 0 ? value + 1 : value - 1));
}

void VxGeneralSetting::on_pb_add_trigger_in_before_time_clicked()
{
    stepSeconds(ui->le_trigger_in_before_time, +1);
}

void VxGeneralSetting::on_pb_sub_trigger_in_before_time_clicked()
{
    stepSeconds(ui->le_trigger_in_before_time, -1);
}

void VxGeneralSetting::on_pb_add_trigger_in_after_time_clicked()
{
    stepSeconds(ui->le_trigger_in_after_time, +1);
}

void VxGeneralSetting::on_pb_sub_trigger_in_after_time_clicked()
{
    stepSeconds(ui->le_trigger_in_after_time, -1);
}
