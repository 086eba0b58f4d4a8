#include "ui/initdialog.h"
#include "ui_initdialog.h"

#include <QDebug>
#include <QGraphicsDropShadowEffect>

namespace {
const char kVersion[] = "1.1.5";
constexpr int kCloseDelayMs = 2000;
} // namespace

InitDialog::InitDialog(QWidget *parent)
    : QDialog(parent), ui(new Ui::InitDialog)
{
    ui->setupUi(this);

    setWindowFlags(Qt::Window | Qt::FramelessWindowHint);
    setAttribute(Qt::WA_TranslucentBackground, true);

    // The transparent margin around the frame is where the shadow shows.
    auto *shadow = new QGraphicsDropShadowEffect(this);
    shadow->setOffset(0, 0);
    shadow->setColor(QColor(QStringLiteral("#444444")));
    shadow->setBlurRadius(30);
    ui->frame->setGraphicsEffect(shadow);
    layout()->setContentsMargins(10, 10, 10, 10);

    // A logo larger than its place is scaled down rather than clipped.
    const QPixmap logo = ui->label->pixmap();
    const QSize room(ui->frame->maximumWidth() - 60, ui->label->minimumHeight());
    if (!logo.isNull() && (logo.width() > room.width() || logo.height() > room.height()))
        ui->label->setPixmap(logo.scaled(room, Qt::KeepAspectRatio, Qt::SmoothTransformation));

    m_closeTimer.setSingleShot(true);
    m_closeTimer.setInterval(kCloseDelayMs);
    connect(&m_closeTimer, &QTimer::timeout, this, &InitDialog::close);
    // Closed early by the button: the timer must not act on it later.
    connect(this, &QDialog::finished, &m_closeTimer, &QTimer::stop);
    m_closeTimer.start();

    qDebug().noquote() << QStringLiteral("VexadinView Version: ") + version();
    ui->lb_version->setText(QStringLiteral("Version: ") + version());
}

InitDialog::~InitDialog()
{
    delete ui;
}

QString InitDialog::version()
{
    return QString::fromLatin1(kVersion);
}

void InitDialog::on_btn_close_clicked()
{
    close();
}
