#include "widgets/vxcomboboxbase.h"

#include "widgets/nofocusframedelegate.h"

#include <QApplication>
#include <QListView>
#include <QWheelEvent>

VXComboBoxBase::VXComboBoxBase(QWidget *parent)
    : QComboBox(parent)
{
    QApplication::setEffectEnabled(Qt::UI_AnimateCombo, false);

    auto *list = new QListView(this);
    setView(list);
    setItemDelegate(new NoFocusFrameDelegate(list));

    QWidget *container = view()->parentWidget();
    if (container && qstrcmp(container->metaObject()->className(), "QComboBoxPrivateContainer") == 0)
        container->setWindowFlags(container->windowFlags() | Qt::NoDropShadowWindowHint);
}

void VXComboBoxBase::showPopup()
{
    emit popupShown();
    QComboBox::showPopup();
    // Leave the halo below the box visible between box and list.
    if (QWidget *popup = view()->parentWidget())
        popup->move(popup->x(), popup->y() + 2);
}

void VXComboBoxBase::hidePopup()
{
    emit popupHidden();
    QComboBox::hidePopup();
}

void VXComboBoxBase::wheelEvent(QWheelEvent *event)
{
    event->ignore();
}
