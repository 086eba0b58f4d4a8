#include "widgets/vxmessagebox.h"
#include "ui_vxmessagebox.h"

#include "widgets/vxwindowagent.h"

VXMessageBox::VXMessageBox(QString message, QString title, QString accept_text,
                           QString reject_text, QWidget *parent)
    : QDialog(parent)
    , ui(new Ui::VXMessageBox)
{
    ui->setupUi(this);
    // The card has rounded corners; nothing may show behind them.
    setAttribute(Qt::WA_TranslucentBackground);

    ui->lb_title->setText(title);
    ui->lb_show_message->setText(message);
    ui->pb_open->setText(accept_text);
    ui->pb_close->setText(reject_text);

    agent_ = new VxWindowAgent(this);
    agent_->setup(this);
    agent_->setTitleBar(ui->widget_title_name);
}

VXMessageBox::~VXMessageBox()
{
    delete ui;
}

void VXMessageBox::on_pb_open_clicked()
{
    accept();
}

void VXMessageBox::on_pb_close_clicked()
{
    reject();
}

void VXMessageBox::on_pb_win_close_clicked()
{
    close();
}
