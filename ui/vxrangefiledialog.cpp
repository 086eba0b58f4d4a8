#include "ui/vxrangefiledialog.h"

#include "widgets/vxwindowagent.h"

#include <QAbstractButton>
#include <QEvent>
#include <QFileDialog>
#include <QLineEdit>
#include <QStyle>

namespace {

bool readUnsigned(const QLineEdit *edit, uint64_t &value)
{
    bool ok = false;
    const qulonglong v = edit->text().trimmed().toULongLong(&ok, 10);
    value = ok ? uint64_t(v) : 0;
    return ok;
}

uint64_t readUnsigned(const QLineEdit *edit)
{
    uint64_t value = 0;
    readUnsigned(edit, value);
    return value;
}

void repolish(QWidget *w)
{
    w->style()->unpolish(w);
    w->style()->polish(w);
}

} // namespace

VxRangeFileDialog::VxRangeFileDialog(QWidget *parent)
    : QDialog(parent)
{
}

void VxRangeFileDialog::initFields(const Fields &fields, const QString &selectDirTitle)
{
    m_fields = fields;
    m_selectDirTitle = selectDirTitle;
    m_windowAgent = new VxWindowAgent(this);
    m_windowAgent->setup(this);
    m_windowAgent->setTitleBar(m_fields.titleBar);
    m_windowAgent->setHitTestVisible(m_fields.closeButton, true);

    // The bordered boxes show the focus of the line edit they hold.
    for (QLineEdit *edit : {m_fields.startTime, m_fields.endTime, m_fields.savePath})
        edit->installEventFilter(this);
    // A time that does not read would reach the engine as 0: show it at once.
    for (QLineEdit *edit : {m_fields.startTime, m_fields.endTime})
        connect(edit, &QLineEdit::textChanged, this, [this, edit] { markTime(edit); });
}

void VxRangeFileDialog::markTime(QLineEdit *edit)
{
    uint64_t value = 0;
    const bool invalid = !readUnsigned(edit, value);
    if (auto *box = qobject_cast<QWidget *>(edit->parent()); box && box->property("invalid").toBool() != invalid) {
        box->setProperty("invalid", invalid);
        repolish(box);
    }
}

bool VxRangeFileDialog::timesValid() const
{
    uint64_t value = 0;
    return readUnsigned(m_fields.startTime, value) && readUnsigned(m_fields.endTime, value);
}

void VxRangeFileDialog::setStartTime(uint64_t start_us)
{
    m_fields.startTime->setText(QString::number(start_us));
}

void VxRangeFileDialog::setEndTime(uint64_t end_us)
{
    m_fields.endTime->setText(QString::number(end_us));
}

void VxRangeFileDialog::setSavePath(const QString &dir)
{
    showFolder(dir);
}

void VxRangeFileDialog::showFolder(const QString &dir)
{
    m_fields.savePath->setText(dir);
    // A folder longer than the field reads from its root rather than from a
    // cut-off word in the middle.
    m_fields.savePath->setCursorPosition(0);
}

void VxRangeFileDialog::setFileName(const QString &name)
{
    m_fields.fileName->setText(name);
}

uint64_t VxRangeFileDialog::getStartTime() const
{
    return readUnsigned(m_fields.startTime);
}

uint64_t VxRangeFileDialog::getEndTime() const
{
    return readUnsigned(m_fields.endTime);
}

QString VxRangeFileDialog::getOutputPath() const
{
    return m_fields.savePath->text() + "/" + m_fields.fileName->text();
}

QString VxRangeFileDialog::getSaveDir() const
{
    return m_fields.savePath->text();
}

bool VxRangeFileDialog::eventFilter(QObject *watched, QEvent *event)
{
    if (event->type() == QEvent::FocusIn || event->type() == QEvent::FocusOut) {
        if (auto *box = qobject_cast<QWidget *>(watched->parent())) {
            box->setProperty("focused", event->type() == QEvent::FocusIn);
            repolish(box);
        }
    }
    return QDialog::eventFilter(watched, event);
}

void VxRangeFileDialog::on_pb_save_clicked()
{
    // Refused rather than passed on as 0: a range from the recording's start is not
    // what the user typed.
    markTime(m_fields.startTime);
    markTime(m_fields.endTime);
    if (timesValid())
        accept();
}

void VxRangeFileDialog::on_pb_cancel_clicked()
{
    close();
}

void VxRangeFileDialog::on_pb_win_close_clicked()
{
    close();
}

void VxRangeFileDialog::on_pb_select_dir_clicked()
{
    const QString dir = QFileDialog::getExistingDirectory(
        this, m_selectDirTitle, m_fields.savePath->text(),
        QFileDialog::ShowDirsOnly | QFileDialog::DontResolveSymlinks);
    if (!dir.isEmpty())
        showFolder(dir);
}
