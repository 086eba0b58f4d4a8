#include "camera/cameraslist.h"
#include "ui_cameraslist.h"

#include "widgets/vxwindowagent.h"

#include <QIcon>
#include <QListWidgetItem>

CamerasList::CamerasList(const std::vector<vexadin::CameraDescription> &descriptions, QWidget *parent)
    : QDialog(parent), ui(new Ui::CamerasList), parent_(parent)
{
    ui->setupUi(this);
    agent_ = new VxWindowAgent(this);
    agent_->setup(this);
    agent_->setTitleBar(ui->widget_title_name);

    connect(ui->pb_open, &QPushButton::clicked, this, &CamerasList::accept);
    connect(ui->pb_close, &QPushButton::clicked, this, &CamerasList::reject);
    connect(ui->listWidget_cameras, &QListWidget::itemDoubleClicked, this, &CamerasList::accept);
    connect(ui->le_search_camera, &QLineEdit::textChanged, this, &CamerasList::applySearch);
    connect(ui->pb_searc_camera, &QPushButton::clicked, this,
            [this] { applySearch(ui->le_search_camera->text()); });

    ui->listWidget_cameras->setIconSize(QSize(24, 24));
    const QIcon icon(":/img/assets/btn_camera.svg");
    for (const vexadin::CameraDescription &desc : descriptions)
        ui->listWidget_cameras->addItem(new QListWidgetItem(icon, QString::fromLocal8Bit(desc.serial.c_str())));
    if (ui->listWidget_cameras->count() > 0)
        ui->listWidget_cameras->setCurrentRow(0);
}

CamerasList::~CamerasList()
{
    delete ui;
}

bool CamerasList::selectedIndex(int &index) const
{
    const int row = ui->listWidget_cameras->currentRow();
    if (row < 0)
        return false;
    index = row;
    return true;
}

void CamerasList::accept()
{
    QDialog::accept();
}

void CamerasList::rejected()
{
    emit QDialog::rejected();
}

void CamerasList::on_pb_win_close_clicked()
{
    close();
}

void CamerasList::showEvent(QShowEvent *event)
{
    if (parent_) {
        const QPoint origin = parent_->mapToGlobal(QPoint(0, 0));
        move(origin.x() + (parent_->width() - width()) / 2, origin.y() + (parent_->height() - height()) / 2);
    }
    QDialog::showEvent(event);
}

void CamerasList::applySearch(const QString &text)
{
    QListWidget *list = ui->listWidget_cameras;
    const QString needle = text.trimmed();
    int firstShown = -1;
    for (int row = 0; row < list->count(); ++row) {
        QListWidgetItem *item = list->item(row);
        const bool shown = needle.isEmpty() || item->text().contains(needle, Qt::CaseInsensitive);
        item->setHidden(!shown);
        if (shown && firstShown < 0)
            firstShown = row;
    }
    // "Open" must never pick a camera the user can no longer see.
    QListWidgetItem *current = list->currentItem();
    if (!current || current->isHidden())
        list->setCurrentRow(firstShown);
}
