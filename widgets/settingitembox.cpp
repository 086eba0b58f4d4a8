#include "widgets/settingitembox.h"

#include "ui_settingitembox.h"

#include "widgets/vxstyle.h"

#include <QIcon>
#include <QMouseEvent>
#include <QVBoxLayout>

SettingItemBox::SettingItemBox(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::SettingItemBox)
{
    ui->setupUi(this);
    setMouseTracking(true);
    setAttribute(Qt::WA_TranslucentBackground);
    // A QWidget subclass paints its style-sheet background only when asked to.
    setAttribute(Qt::WA_StyledBackground);

    // Checked (collapsed) shows the down arrow; expanded, and any active
    // button, the up arrow.
    const QString down = QStringLiteral(":/img/assets/bnt_arrow_down.svg");
    const QString up = QStringLiteral(":/img/assets/bnt_arrow_up_Pressed.svg");
    const QSize size(30, 30);
    QIcon icon;
    icon.addFile(up, size, QIcon::Normal, QIcon::Off);
    icon.addFile(down, size, QIcon::Normal, QIcon::On);
    icon.addFile(up, size, QIcon::Active, QIcon::Off);
    icon.addFile(up, size, QIcon::Active, QIcon::On);
    ui->pb_fold->setIcon(icon);

    // The title bar lights up under the mouse like a button, so a click anywhere
    // on it folds and unfolds the section, not only a click on the arrow.
    ui->widget_setting_box_title->installEventFilter(this);

    setFold(true);
}

bool SettingItemBox::eventFilter(QObject *watched, QEvent *event)
{
    if (watched == ui->widget_setting_box_title && event->type() == QEvent::MouseButtonRelease) {
        const auto *mouse = static_cast<QMouseEvent *>(event);
        const bool inside = ui->widget_setting_box_title->rect().contains(mouse->position().toPoint());
        if (mouse->button() == Qt::LeftButton && inside) {
            ui->pb_fold->click();
            return true;
        }
    }
    return QWidget::eventFilter(watched, event);
}

SettingItemBox::~SettingItemBox()
{
    delete ui;
}

void SettingItemBox::setTitle(const QString &title)
{
    ui->lb_setting_box_title_text->setText(title);
}

void SettingItemBox::addItem(QWidget *item)
{
    if (!item)
        return;
    ui->verticalLayout_container->addWidget(item);
    refreshSizes(item);
}

void SettingItemBox::insertItem(QWidget *item, int position)
{
    if (!item)
        return;
    ui->verticalLayout_container->insertWidget(position, item);
    refreshSizes(item);
}

void SettingItemBox::setFold(bool folded)
{
    applyFoldLook(folded);
    ui->pb_fold->setChecked(folded);
}

void SettingItemBox::on_pb_fold_clicked(bool checked)
{
    applyFoldLook(checked);
}

void SettingItemBox::applyFoldLook(bool folded)
{
    ui->widget_container->setVisible(!folded);
    QWidget *title = ui->widget_setting_box_title;
    setWidgetStyleProperty(title, QStringLiteral("border"),
                           folded ? QStringLiteral("border-left: 0px solid #004B6A;")
                                  : QStringLiteral("border-left: 2px solid #004B6A;"));
    setWidgetStyleProperty(title, QStringLiteral("background"),
                           folded ? QStringLiteral("background: #F4F5F7;")
                                  : QStringLiteral("background: #E1E9ED;"));
}

void SettingItemBox::refreshSizes(QWidget *item)
{
    adjustSize();
    ui->widget_container->adjustSize();
    update();
    ui->widget_container->update();
    item->adjustSize();
}
