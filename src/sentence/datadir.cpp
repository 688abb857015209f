#include "brumlis/sentence/datadir.h"

#include <QDir>
#include <QFileInfo>
#include <QStandardPaths>

namespace brumlis {

namespace {

bool holdsText(const QString& folder) {
    return QFileInfo(QDir(folder).filePath(QStringLiteral("text"))).isDir();
}

} // namespace

QString findDataDir(const QString& given) {
    if (!given.isEmpty())
        return QDir(given).absolutePath();

    // The working directory comes first so that a checkout's data/ and a user's
    // folder of lists keep working as they always did.
    const QString here = QDir::currentPath();
    if (holdsText(here))
        return here;

    // XDG_DATA_HOME first, then each XDG_DATA_DIRS entry, defaults included.
    const QStringList bases =
        QStandardPaths::standardLocations(QStandardPaths::GenericDataLocation);
    for (const QString& base : bases) {
        const QString candidate = QDir(base).filePath(QStringLiteral("brumlis"));
        if (holdsText(candidate))
            return QDir::cleanPath(candidate);
    }
    return here;
}

} // namespace brumlis
