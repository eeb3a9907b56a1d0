// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once

#include <QApplication>

// The application object. An exception that escapes an event handler is shown as the standard
// error report and the program goes on.
class TApplication : public QApplication {
    Q_OBJECT
public:
    TApplication(int& argc, char** argv);
    bool notify(QObject* receiver, QEvent* e) override;
};

// Runs body and shows any exception that escapes it as the standard error report.
// Returns false when an exception was caught.
template <typename Body>
bool GuardedRun(Body&& body);

void ReportCurrentException();

template <typename Body>
bool GuardedRun(Body&& body) {
    try {
        body();
        return true;
    } catch (...) {
        ReportCurrentException();
        return false;
    }
}
