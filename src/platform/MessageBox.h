// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QString>

#include <functional>

// Every message box of the program goes through MessageBox(), with the Windows flag values the
// program's messages are written for. The GUI installs a QMessageBox implementation, the
// command-line tool one that writes to standard error, tests one that records and answers.
namespace platform {

// Buttons
constexpr unsigned MB_OK = 0x0000;
constexpr unsigned MB_YESNOCANCEL = 0x0003;
constexpr unsigned MB_YESNO = 0x0004;
// Icons
constexpr unsigned MB_ICONERROR = 0x0010;
constexpr unsigned MB_ICONQUESTION = 0x0020;
constexpr unsigned MB_ICONWARNING = 0x0030;
constexpr unsigned MB_ICONINFORMATION = 0x0040;
// Modality
constexpr unsigned MB_SYSTEMMODAL = 0x1000;

constexpr unsigned MB_TYPEMASK = 0x000F;
constexpr unsigned MB_ICONMASK = 0x00F0;

// Answers
constexpr int IDOK = 1;
constexpr int IDCANCEL = 2;
constexpr int IDYES = 6;
constexpr int IDNO = 7;

using MessageBoxHandler = std::function<int(const QString& text, const QString& caption, unsigned flags)>;

// Shows a message and returns the button pressed (IDOK, IDYES, ...). Without an installed handler
// the message goes to standard error and the answer is IDOK (IDCANCEL for a Yes/No/Cancel question).
int MessageBox(const QString& text, const QString& caption, unsigned flags);

// Installs a handler and returns the previous one; an empty handler restores the default.
MessageBoxHandler SetMessageBoxHandler(MessageBoxHandler handler);

// The standard error report for an exception that escaped an event handler or start-up: the
// exception's message, the application title as caption, an error icon.
void ReportException(const QString& message);

// The application title used as caption of the standard error report and the simple message dialog.
QString ApplicationTitle();

// The class library's simple message dialog: the application title as caption and an OK button.
void ShowMessage(const QString& text);

}  // namespace platform
