#include "ui/showcamerainfoui.h"
#include "ui_showcamerainfoui.h"

#include "widgets/vxwindowagent.h"

ShowCameraInfoUI::ShowCameraInfoUI(QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::ShowCameraInfoUI)
{
    ui->setupUi(this);
    m_windowAgent = new VxWindowAgent(this);
    m_windowAgent->setup(this);
    m_windowAgent->setTitleBar(ui->widget_title_name);
    m_windowAgent->setHitTestVisible(ui->pb_win_close, true);
}

ShowCameraInfoUI::~ShowCameraInfoUI()
{
    delete ui;
}

void ShowCameraInfoUI::setCameraInfo(vexadin::CameraDescription description, std::string firmware_version)
{
    ui->lb_product->setText(QString::fromStdString(description.product));
    ui->lb_manufacturer->setText(QString::fromStdString(description.manufacturer));
    ui->lb_firm_ver->setText(QString::fromStdString(firmware_version));
    ui->lb_serial->setText(QString::fromStdString(description.serial));
}

void ShowCameraInfoUI::on_pb_close_clicked()
{
    close();
}

void ShowCameraInfoUI::on_pb_win_close_clicked()
{
    close();
}
