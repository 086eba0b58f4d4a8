#include "ui/vxexportvideoui.h"
#include "ui_vxexportvideoui.h"

#include "widgets/vxwindowagent.h"

#include <QEvent>
#include <QFileDialog>
#include <QStyle>

VxExportVideoUI::VxExportVideoUI(QWidget *parent)
    : QDialog(parent), ui(new Ui::VxExportVideoUI)
{
    ui->setupUi(this);
    m_windowAgent = new VxWindowAgent(this);
    m_windowAgent->setup(this);
    m_windowAgent->setTitleBar(ui->widget_title_bar);
    m_windowAgent->setHitTestVisible(ui->pb_win_close, true);

    // The bordered boxes show the focus of the line edit they hold.
    for (QLineEdit *edit : {ui->le_start_time, ui->le_end_time, ui->le_save_file_path})
        edit->installEventFilter(this);
}

VxExportVideoUI::~VxExportVideoUI()
{
    delete ui;
}

void VxExportVideoUI::setStartTime(uint64_t start_us)
{
    ui->le_start_time->setText(QString::number(start_us));
}

void VxExportVideoUI::setEndTime(uint64_t end_us)
{
    ui->le_end_time->setText(QString::number(end_us));
}

void VxExportVideoUI::setSavePath(const QString &dir)
{
    ui->le_save_file_path->setText(dir);
}

void VxExportVideoUI::setFileName(const QString &name)
{
    ui->le_file_name->setText(name);
}

uint64_t VxExportVideoUI::getStartTime() const
{
    bool ok = false;
    const qulonglong v = ui->le_start_time->text().trimmed().toULongLong(&ok, 10);
    return ok ? uint64_t(v) : 0;
}

uint64_t VxExportVideoUI::getEndTime() const
{
    bool ok = false;
    const qulonglong v = ui->le_end_time->text().trimmed().toULongLong(&ok, 10);
    return ok ? uint64_t(v) : 0;
}

QString VxExportVideoUI::getOutputPath() const
{
    return ui->le_save_file_path->text() + "/" + ui->le_file_name->text();
}

QString VxExportVideoUI::getSaveDir() const
{
    return ui->le_save_file_path->text();
}

bool VxExportVideoUI::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
        if (auto *box = qobject_cast<QWidget *>(watched->parent())) {
            box->setProperty("focused", event->type() == QEvent::FocusIn);
            box->style()->unpolish(box);
            box->style()->polish(box);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void VxExportVideoUI::on_pb_save_clicked()
{
    accept();
}

void VxExportVideoUI::on_pb_cancel_clicked()
{
    close();
}

void VxExportVideoUI::on_pb_win_close_clicked()
{
    close();
}

void VxExportVideoUI::on_pb_select_dir_clicked()
{
    const QString dir = QFileDialog::getExistingDirectory(
        this, tr("Select Directory"), ui->le_save_file_path->text(),
        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (!dir.isEmpty())
        ui->le_save_file_path->setText(dir);
}
