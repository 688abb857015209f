#include "brumlis/packs/packwriter.h"

#include "brumlis/qtbridge/files.h"
#include "brumlis/sentence/fileresolver.h"
#include "brumlis/text/text.h"
#include "zipsupport.h"

#include <QDateTime>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QTemporaryDir>
#include <algorithm>
#include <sys/stat.h>

namespace brumlis {

namespace {

// Every entry's time: 1 January 1980, 00:00, the first a zip file can hold. A fixed time
// keeps the bytes of a pack from depending on when, or in which time zone, it was made.
constexpr zip_uint16_t FixedDosTime = 0;
constexpr zip_uint16_t FixedDosDate = (0 << 9) | (1 << 5) | 1;

// A name that survives the trip to UTF-8 (what a zip file holds) and back to the disk.
bool nameTravels(const QString& folder, const QString& name) {
    return QFileInfo::exists(QDir(folder).filePath(name)) &&
           QString::fromUtf8(name.toUtf8()) == name;
}

} // namespace

PackContents packContents(const QString& dataDir, const UnpackLimits& limits) {
    PackContents contents;
    const QDir root(dataDir);
    // Lists and recordings are found by any case of their folder and suffix, as the
    // program finds them ("Text/NAMN.TXT"); in the pack the folders are text/ and sound/.
    struct Part {
        const char* folder;
        const char* suffix;
    };
    const Part parts[] = {{"text", ".txt"}, {"sound", ".wav"}};
    const FileResolver files(corePath(dataDir));
    for (const Part& part : parts) {
        const std::filesystem::path found = files.resolve(fromUtf8(part.folder));
        const QString folder =
            found.empty() ? root.filePath(QLatin1String(part.folder)) : qtPath(found);
        QStringList names;
        for (const QString& name : QDir(folder).entryList(QDir::Files, QDir::Name))
            if (!name.startsWith(u'.') &&
                name.endsWith(QLatin1String(part.suffix), Qt::CaseInsensitive))
                names << name;
        for (const QString& name : names) {
            if (!nameTravels(folder, name)) {
                contents.skipped << QStringLiteral("%1/%2 lämnas utanför: namnet är inte UTF-8")
                                        .arg(QLatin1String(part.folder), name);
                continue;
            }
            contents.entries.push_back(
                {QLatin1String(part.folder) + u'/' + name, QDir(folder).filePath(name)});
        }
    }
    const QString shapes = root.filePath(QStringLiteral("mallar.txt"));
    if (QFileInfo(shapes).isFile())
        contents.entries.push_back({QStringLiteral("mallar.txt"), shapes});

    std::sort(
        contents.entries.begin(), contents.entries.end(),
        [](const PackEntry& a, const PackEntry& b) { return a.name.toUtf8() < b.name.toUtf8(); });
    qint64 total = 0;
    QDateTime newest;
    for (const PackEntry& entry : contents.entries) {
        const QFileInfo info(entry.source);
        if (info.size() > limits.fileBytes) {
            contents.problem =
                QStringLiteral("%1 är större än %2").arg(entry.name, sizeText(limits.fileBytes));
            return contents;
        }
        total += info.size();
        const QDateTime changed = info.lastModified().toUTC();
        if (!newest.isValid() || changed > newest)
            newest = changed;
    }
    if (total > limits.totalBytes)
        contents.problem =
            QStringLiteral("filerna är större än %1 tillsammans").arg(sizeText(limits.totalBytes));
    contents.newest = newest.isValid() ? newest.date() : QDate(1980, 1, 1);
    return contents;
}

namespace {

QString writeArchive(const QString& packFile, const PackManifest& manifest,
                     const std::vector<PackEntry>& entries) {
    QString why;
    if (!loadLibZip(&why))
        return QStringLiteral("kan inte skriva %1: %2").arg(packFile, why);
    int code = 0;
    ZipArchive zip(
        libzip().open(QFile::encodeName(packFile).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code));
    if (!zip)
        return QStringLiteral("kan inte skriva %1: %2").arg(packFile, zipProblem(code));
    auto failed = [&] {
        return QStringLiteral("kan inte skriva %1: %2")
            .arg(packFile, zipProblem(libzip().get_error(zip.get())));
    };

    // The manifest's bytes are read when the archive is written, at zip_close.
    const QByteArray json = manifest.toJson();
    struct Item {
        QByteArray name;
        QString source; // empty for the manifest
    };
    std::vector<Item> items{{QByteArray(ManifestFileName), {}}};
    for (const PackEntry& entry : entries)
        items.push_back({entry.name.toUtf8(), entry.source});
    std::sort(items.begin(), items.end(),
              [](const Item& a, const Item& b) { return a.name < b.name; });

    for (const Item& item : items) {
        zip_source_t* source =
            item.source.isEmpty()
                ? libzip().source_buffer(zip.get(), json.constData(), zip_uint64_t(json.size()), 0)
                : libzip().source_file(zip.get(), QFile::encodeName(item.source).constData(), 0,
                                       -1);
        if (!source)
            return failed();
        const zip_int64_t index =
            libzip().file_add(zip.get(), item.name.constData(), source, ZIP_FL_ENC_UTF_8);
        if (index < 0) {
            libzip().source_free(source);
            return failed();
        }
        const auto at = zip_uint64_t(index);
        if (libzip().file_set_dostime(zip.get(), at, FixedDosTime, FixedDosDate, 0) != 0 ||
            libzip().file_set_external_attributes(zip.get(), at, 0, ZIP_OPSYS_UNIX,
                                                  zip_uint32_t(S_IFREG | 0644) << 16) != 0 ||
            libzip().set_file_compression(zip.get(), at, ZIP_CM_DEFLATE, 0) != 0)
            return failed();
    }
    // Written to a temporary file beside packFile, which then takes its name.
    if (libzip().close(zip.get()) != 0)
        return failed();
    zip.release();
    return {};
}

} // namespace

QString writePack(const QString& packFile, const PackManifest& manifest,
                  const std::vector<PackEntry>& entries) {
    if (platform::isSpecialFile(corePath(packFile))) {
        // A device or FIFO cannot be renamed over: the pack is made aside and written into it.
        const QTemporaryDir aside;
        if (!aside.isValid())
            return QStringLiteral("kan inte skapa en tillfällig mapp");
        const QString made = aside.filePath(QStringLiteral("pack.brumlis"));
        if (QString failed = writeArchive(made, manifest, entries); !failed.isEmpty())
            return failed;
        std::u16string why;
        return platform::copyInPlace(corePath(made), corePath(packFile), &why)
                   ? QString()
                   : QStringLiteral("kan inte skriva %1: %2").arg(packFile, qt(why));
    }
    // A link to a pack stays a link: the file it names is the one written.
    const QFileInfo given(packFile);
    return writeArchive(given.isSymLink() && given.exists() ? given.canonicalFilePath() : packFile,
                        manifest, entries);
}

} // namespace brumlis
