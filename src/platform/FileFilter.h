#pragma once

#include <QString>
#include <QStringList>

// Converts an open or save dialog filter from the Windows syntax ("All files(*.*)|*.*|...": description
// and pattern list pairs, patterns separated by ';' or ',') to Qt's name filters.
QStringList FilterFromWindowsSyntax(const QString& windowsFilter);
