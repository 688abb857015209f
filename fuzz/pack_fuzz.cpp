// Any bytes as a .brumlis pack: it is refused, or unpacked into its own folder holding only
// what a voice holds, within the limits; nothing is ever written beside that folder.
#include "brumlis/packs/packreader.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <cstdint>
#include <cstdlib>

namespace {

using namespace brumlis;

// What a folder holds, as paths relative to it; std::abort() on anything but a plain file or
// folder.
QStringList contents(const QString& root) {
    QStringList found;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QFileInfo info(it.next());
        if (info.isSymLink() || !(info.isFile() || info.isDir()))
            std::abort();
        found << QDir(root).relativeFilePath(info.filePath());
    }
    return found;
}

bool belongsToAVoice(const QString& path) {
    return path == QLatin1String(ManifestFileName) || path == QStringLiteral("mallar.txt") ||
           path == QStringLiteral("text") || path == QStringLiteral("sound") ||
           (path.startsWith(QStringLiteral("text/")) && path.count(u'/') == 1) ||
           (path.startsWith(QStringLiteral("sound/")) && path.count(u'/') == 1);
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static QTemporaryDir scratch;
    if (!scratch.isValid())
        std::abort();
    const QString pack = scratch.filePath(QStringLiteral("in.brumlis"));
    const QString out = scratch.filePath(QStringLiteral("out"));
    QFile file(pack);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate) ||
        file.write(reinterpret_cast<const char*>(data), qint64(size)) != qint64(size))
        std::abort();
    file.close();
    QDir(out).removeRecursively();
    QDir().mkpath(out);

    UnpackLimits limits;
    limits.fileBytes = 1 << 20;
    limits.totalBytes = 4 << 20;
    limits.entries = 2000;
    const PackReading reading = unpackPack(pack, out, limits);

    for (const QString& path : contents(scratch.path()))
        if (path != QStringLiteral("in.brumlis") && path != QStringLiteral("out") &&
            !path.startsWith(QStringLiteral("out/")))
            std::abort(); // written beside the folder
    qint64 total = 0;
    for (const QString& path : contents(out)) {
        if (reading.ok() && !belongsToAVoice(path))
            std::abort();
        const QFileInfo info(QDir(out).filePath(path));
        if (info.isFile()) {
            if (info.size() > limits.fileBytes)
                std::abort();
            total += info.size();
        }
    }
    // What was written was counted; a refused pack may have counted a manifest it never wrote.
    if (total > limits.totalBytes || total > reading.bytesWritten ||
        (reading.ok() && total != reading.bytesWritten))
        std::abort();
    if (reading.ok() && reading.manifest.name.isEmpty())
        std::abort();
    return 0;
}
