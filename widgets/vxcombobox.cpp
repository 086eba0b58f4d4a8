#include "widgets/vxcombobox.h"

#include "ui_vxcombobox.h"

#include "widgets/vxcomboboxbase.h"
#include "widgets/vxstyle.h"

#include <QAbstractItemView>
#include <QLineEdit>
#include <QMouseEvent>
#include <QTimer>

#include <utility>

namespace {
const QString kHaloActive = QStringLiteral("#D7E7EE");
const QString kHaloIdle = QStringLiteral("transparent");
const QString kTextActive = QStringLiteral("#004B6A");
const QString kTextIdle = QStringLiteral("#A7A7A7");
} // namespace

VxComboBox::VxComboBox(QWidget *parent)
    : QWidget(parent)
    , ui(new Ui::VxComboBox)
{
    ui->setupUi(this);
    VXComboBoxBase *combo = ui->cb_combox_in_widget;

    connect(combo, &VXComboBoxBase::popupShown, this, [this] {
        // The pop-up is not on screen yet when this arrives; colour the halo
        // once it is.
        QTimer::singleShot(0, this, [this] {
            // Closed again in the meantime, or never opened (an empty list
            // shows none): the idle look set on closing must stay.
            if (!ui->cb_combox_in_widget->view()->isVisible())
                return;
            setHaloColor(kHaloActive);
            setTextColor(kTextActive);
        });
    });
    connect(combo, &VXComboBoxBase::popupHidden, this, [this] {
        setHaloColor(kHaloIdle);
        setTextColor(kTextIdle);
        // A press on the text that closes the list is handed on to the text
        // once the list is gone: it must not open the list again.
        m_listJustClosed = true;
        QTimer::singleShot(0, this, [this] { m_listJustClosed = false; });
    });

    combo->setEditable(true);
    // The line edit is the display of the current value: typed text must not
    // be completed from the list nor added to it.
    combo->setCompleter(nullptr);
    combo->setInsertPolicy(QComboBox::NoInsert);
    combo->lineEdit()->installEventFilter(this);
}

VxComboBox::~VxComboBox()
{
    // The children are destroyed after this body; a focused line edit then
    // signals editingFinished, whose handlers would use the deleted form.
    QLineEdit *edit = ui->cb_combox_in_widget->lineEdit();
    edit->removeEventFilter(this);
    edit->disconnect(this);
    ui->cb_combox_in_widget->disconnect(this);
    delete ui;
}

VXComboBoxBase *VxComboBox::innerComboBox() const
{
    return ui->cb_combox_in_widget;
}

void VxComboBox::setEditable(bool editable)
{
    QLineEdit *edit = ui->cb_combox_in_widget->lineEdit();
    disconnect(m_textChangedConnection);
    disconnect(m_editingFinishedConnection);
    m_textChangedConnection = {};
    m_editingFinishedConnection = {};

    if (editable) {
        m_textChangedConnection = connect(edit, &QLineEdit::textChanged, this, [this](const QString &text) {
            emit signalLineEditTextChanged(text);
            setHaloColor(kHaloActive);
            setTextColor(kTextActive);
        });
        m_editingFinishedConnection = connect(edit, &QLineEdit::editingFinished, this, [this] {
            emit signalLineEditEditingFinished();
            setHaloColor(kHaloIdle);
            setTextColor(kTextIdle);
        });
    }
    edit->setReadOnly(!editable);
}

void VxComboBox::setHaloColor(const QString &color)
{
    setWidgetStyleProperty(ui->comboBoxWidget, QStringLiteral("border"),
                           QStringLiteral("border: 2px solid ") + color + QLatin1Char(';'),
                           /*appendIfMissing=*/false);
}

void VxComboBox::setTextColor(const QString &color)
{
    setWidgetStyleProperty(ui->cb_combox_in_widget, QStringLiteral("color"),
                           QStringLiteral("color: ") + color + QLatin1Char(';'));
}

void VxComboBox::setStyleProperty(const QString &key, const QString &text)
{
    setWidgetStyleProperty(ui->cb_combox_in_widget, key, text);
}

bool VxComboBox::eventFilter(QObject *watched, QEvent *event)
{
    // A read-only text shows a choice, not an input: a click on it opens the
    // list as a click on a plain combo box would. The list opens on the
    // release: opened on the press, it takes the mouse, and the release of
    // that same click would close it again at once.
    QLineEdit *edit = ui->cb_combox_in_widget->lineEdit();
    const bool press = event->type() == QEvent::MouseButtonPress;
    if (watched == edit && (press || event->type() == QEvent::MouseButtonRelease) && edit->isReadOnly()
        && isEnabled() && static_cast<QMouseEvent *>(event)->button() == Qt::LeftButton) {
        if (press)
            m_openOnRelease = !m_listJustClosed;
        else if (std::exchange(m_openOnRelease, false))
            ui->cb_combox_in_widget->showPopup();
        return true;
    }
    return QWidget::eventFilter(watched, event);
}

void VxComboBox::on_cb_combox_in_widget_currentTextChanged(const QString &)
{
    // The current text of an editable combo box follows its line edit, so
    // this covers both a list choice and every keystroke.
    emit signalLineEditEditingFinished();
}
