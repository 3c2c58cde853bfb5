// SPDX-FileCopyrightText: 2026 The Zarvotel developers
// SPDX-License-Identifier: GPL-3.0-or-later

#pragma once

#include <QComboBox>

namespace Window {

// An editable combo box that can be locked: it keeps its look and can take the focus, but
// neither typing nor picking from its list (mouse, wheel, keys) changes its text.
class LockableComboBox : public QComboBox
{
    Q_OBJECT

public:
    explicit LockableComboBox(QWidget *parent = nullptr);

    void setLocked(bool locked);
    bool isLocked() const { return m_locked; }

    void showPopup() override;

protected:
    void keyPressEvent(QKeyEvent *event) override;
    void wheelEvent(QWheelEvent *event) override;

private:
    bool m_locked = false;
};

} // namespace Window
