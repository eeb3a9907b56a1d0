// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

namespace platform {

// Installs the desktop implementations of the platform seams: message boxes as QMessageBox and
// addresses opened with QDesktopServices. Called once by the program after its QApplication exists.
void InstallGuiHandlers();
// Gives the keyboard back to the window a dialog was opened from when the dialog closes.
void ReturnFocusAfterDialogs();

}  // namespace platform
