#include "platform/tempfolder.h"

#include <QDir>

QString GetTempPath() {
    QString path = QDir::tempPath();
    if (!path.endsWith(QLatin1Char('/')))
        path += QLatin1Char('/');
    return path;
}
