#include "platform/FileFilter.h"

#include <QDir>
#include <QFileInfo>
#include <QRegularExpression>

QStringList FilterFromWindowsSyntax(const QString& windowsFilter) {
    const QStringList parts = windowsFilter.split(QLatin1Char('|'));
    QStringList filters;
    for (qsizetype i = 0; i + 1 < parts.size(); i += 2) {
        QStringList patterns =
            parts[i + 1].split(QRegularExpression(QStringLiteral("[;,]")), Qt::SkipEmptyParts);
        for (QString& pattern : patterns) {
            pattern = pattern.trimmed();
        }
        filters << parts[i].trimmed() + QStringLiteral(" (") + patterns.join(QLatin1Char(' ')) +
                       QLatin1Char(')');
    }
    return filters;
}

QStringList WithTypedFiles(QStringList chosen, const QString& typed, const QString& folder) {
    // Quotes enclose the names, as the dialog itself writes several chosen files into the field.
    QStringList names;
    if (typed.contains(QLatin1Char('"'))) {
        const QStringList parts = typed.split(QLatin1Char('"'));
        for (qsizetype i = 1; i < parts.size(); i += 2) {
            names << parts[i];
        }
    } else {
        names << typed;
    }
    for (const QString& name : names) {
        if (name.isEmpty()) {
            continue;
        }
        QString path = QDir::cleanPath(QDir(folder).absoluteFilePath(name));
        if (!QFileInfo::exists(path) &&
            (name == QLatin1String("~") || name.startsWith(QLatin1String("~/")))) {
            path = QDir::cleanPath(QDir::homePath() + name.mid(1));
        }
        if (!chosen.contains(path)) {
            chosen << path;
        }
    }
    return chosen;
}
