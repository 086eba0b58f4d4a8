#include "ui/vxexportvideoui.h"
#include "ui_vxexportvideoui.h"

VxExportVideoUI::VxExportVideoUI(QWidget *parent)
    : VxRangeFileDialog(parent), ui(new Ui::VxExportVideoUI)
{
    ui->setupUi(this);
    initFields({ui->widget_title_bar, ui->pb_win_close, ui->le_start_time, ui->le_end_time,
                ui->le_save_file_path, ui->le_file_name},
               tr("Select Directory"));
}

VxExportVideoUI::~VxExportVideoUI()
{
    delete ui;
}
