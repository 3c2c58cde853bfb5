// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#include "lockablecombobox.h"

#include <QKeyEvent>
#include <QLineEdit>

namespace Window {

LockableComboBox::LockableComboBox(QWidget *parent)
    : QComboBox(parent)
{
    setEditable(true);
    setInsertPolicy(QComboBox::NoInsert); // Enter does not add the typed text to the list
    setCompleter(nullptr);                // a typed "60" stays "60", never "600"
}

void LockableComboBox::setLocked(bool locked)
{
    m_locked = locked;
    lineEdit()->setReadOnly(locked);
    if (locked)
        hidePopup();
}

void LockableComboBox::showPopup()
{
    if (!m_locked)
        QComboBox::showPopup();
}

void LockableComboBox::keyPressEvent(QKeyEvent *event)
{
    if (m_locked) {
        switch (event->key()) {
        case Qt::Key_Up:
        case Qt::Key_Down:
        case Qt::Key_PageUp:
        case Qt::Key_PageDown:
        case Qt::Key_F4:
            event->accept();
            return;
        default:
            break;
        }
    }
    QComboBox::keyPressEvent(event);
}

void LockableComboBox::wheelEvent(QWheelEvent *event)
{
    if (m_locked) {
        event->accept();
        return;
    }
    QComboBox::wheelEvent(event);
}

} // namespace Window
