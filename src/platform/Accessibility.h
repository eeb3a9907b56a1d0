// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QAccessible>
#include <QString>

class QWidget;

namespace platform {

// Reports widget to assistive technology in role where Qt would give its class a generic one (a
// window of its own a filler, a QFrame a frame). A Link is also pressed by the accessibility
// action, as a click presses it.
void SetAccessibleRole(QWidget* widget, QAccessible::Role role);

// Qt reports every QFrame as a frame, which assistive technology takes for a window: the plain frames
// of window are reported as separators where they draw a line, else as the fillers they are. Frames
// given a role of their own keep it.
void SetFrameRoles(QWidget* window);

// Shows widget's tool tip when the keyboard brings the focus to it, for buttons that show only a
// picture: a keyboard user never hovers them.
void ShowToolTipOnKeyboardFocus(QWidget* widget);

// A caption as the name of what it labels: without its mnemonic ("&Add", "言語(&L)") and without a
// closing colon ("Join:", "合併：").
QString NameOfCaption(const QString& caption);

// Names every control of window that a label is the buddy of after that label's caption, so a
// control read by a screen reader is called what the label beside it says.
void NameBuddiesByTheirLabels(QWidget* window);

}  // namespace platform
