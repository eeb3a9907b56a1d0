#include "platform/TempFolder.h"

#include <QDir>

namespace platform {

QString TempFolder() {
    QString path = QDir::tempPath();
    if (!path.endsWith(QLatin1Char('/'))) {
        path += QLatin1Char('/');
    }
    return path;
}

}  // namespace platform
