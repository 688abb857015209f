#include "brumlis/packs/packreader.h"

#include "brumlis/platform/files.h"
#include "brumlis/platform/systemerror.h"
#include "brumlis/qtbridge/text.h"
#include "brumlis/text/swedish.h"
#include "zipsupport.h"

#include <QFile>
#include <QSet>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace brumlis {

namespace {

constexpr qint64 ChunkBytes = 64 * 1024;
// "Version made by" systems whose external attributes carry a Unix mode in their upper half.
constexpr zip_uint8_t OpsysDarwin = 19;
constexpr zip_uint32_t DosDirectory = 0x10;

enum class Kind { Manifest, Shapes, List, Recording, Folder, Other };

struct Entry {
    zip_uint64_t index = 0;
    QString path; ///< where it is unpacked to: "text/namn.txt"
    Kind kind = Kind::Other;
};

// A name from the archive in a message: a control character in it could move a terminal's
// cursor or clear its screen, so each is shown as a replacement character.
QString quoted(QString path) {
    for (QChar& c : path)
        if (c.category() == QChar::Other_Control)
            c = QChar::ReplacementCharacter;
    return u'"' + path + u'"';
}

class FileDescriptor {
public:
    explicit FileDescriptor(int fd = -1)
        : m_fd(fd) {}
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    int get() const { return m_fd; }
    /// Closes it, and says whether the last of the writes reached the file.
    bool close() {
        const int fd = m_fd;
        m_fd = -1;
        return ::close(fd) == 0;
    }

private:
    int m_fd;
};

bool writeAll(int fd, const char* data, qint64 size) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, std::size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            return false;
        data += n;
        size -= n;
    }
    return true;
}

// What a pack holds, whatever the case of its folders and suffixes ("Text/NAMN.TXT", a
// Windows user's own folder): the kind, and the path it is unpacked to ("text/NAMN.TXT").
Kind kindOf(const QStringList& parts, bool folder, QString* path) {
    auto is = [](const QString& part, const char* name) {
        return part.compare(QLatin1String(name), Qt::CaseInsensitive) == 0;
    };
    auto endsWith = [](const QString& part, const char* suffix) {
        return part.size() > 4 && part.endsWith(QLatin1String(suffix), Qt::CaseInsensitive);
    };
    if (folder)
        return Kind::Folder;
    if (parts.size() == 1 && is(parts[0], ManifestFileName)) {
        *path = QLatin1String(ManifestFileName);
        return Kind::Manifest;
    }
    if (parts.size() == 1 && is(parts[0], "mallar.txt")) {
        *path = QStringLiteral("mallar.txt");
        return Kind::Shapes;
    }
    if (parts.size() == 2 && is(parts[0], "text") && endsWith(parts[1], ".txt")) {
        *path = QStringLiteral("text/") + parts[1];
        return Kind::List;
    }
    if (parts.size() == 2 && is(parts[0], "sound") && endsWith(parts[1], ".wav")) {
        *path = QStringLiteral("sound/") + parts[1];
        return Kind::Recording;
    }
    *path = parts.join(u'/');
    return Kind::Other;
}

// What macOS and Windows put beside a folder's files when it is zipped: resource forks in
// __MACOSX/ and ._ files, Finder's and Explorer's caches. Never part of a voice.
bool isSystemLitter(const QStringList& parts) {
    if (parts.isEmpty())
        return false;
    if (parts.contains(QStringLiteral("__MACOSX")))
        return true;
    const QString& name = parts.last();
    return name.startsWith(QStringLiteral("._")) || name == QStringLiteral(".DS_Store") ||
           name.compare(QStringLiteral("Thumbs.db"), Qt::CaseInsensitive) == 0;
}

// Files skipped with a line each, before the rest are told only by their number.
constexpr qsizetype MaxSkippedNamed = 10;

// Reads one pack: every entry is looked at before anything is unpacked.
class Reader {
public:
    Reader(const UnpackLimits& limits)
        : m_limits(limits) {}

    PackReading read(const QString& packFile, const QString* folder) {
        // Each step refuses the pack, with its reason, by returning false.
        [[maybe_unused]] const bool read =
            open(packFile) && survey() && readManifest() && (!folder || unpack(*folder));
        return m_result;
    }

private:
    bool refuse(const QString& why) {
        m_result.error = why;
        return false;
    }

    bool open(const QString& packFile) {
        platform::InputFile file;
        if (!file.open(corePath(packFile))) {
            using Problem = platform::InputFile::Problem;
            m_result.missing = file.problem() == Problem::Missing;
            return refuse(
                file.problem() == Problem::Missing ? QStringLiteral("%1 finns inte").arg(packFile)
                : file.problem() == Problem::NotRegular
                    ? QStringLiteral("%1 är ingen vanlig fil").arg(packFile)
                    : QStringLiteral("kan inte öppna %1: %2").arg(packFile, qt(file.why())));
        }
        // The archive gets a descriptor of its own; the file's closes with it.
        const int fd = ::fcntl(int(file.handle()), F_DUPFD_CLOEXEC, 0);
        if (fd < 0)
            return refuse(
                QStringLiteral("kan inte öppna %1: %2").arg(packFile, qt(systemErrorText(errno))));
        QString why;
        if (!loadLibZip(&why)) {
            ::close(fd);
            return refuse(QStringLiteral("kan inte läsa paket: %1").arg(why));
        }
        int code = 0;
        // On success the archive owns the descriptor; on failure it is still ours. Without
        // ZIP_CHECKCONS: this libzip takes a local header that gives the unpacked size
        // before a data descriptor (bsdtar, zip writing to a pipe) for a lie, where every
        // zip tool reads it. What that check would guard is guarded here anyway: each
        // entry is read by the central directory, its checksum checked, its bytes counted
        // and its name looked at, twice-named entries refused.
        zip_t* zip = libzip().fdopen(fd, ZIP_RDONLY, &code);
        if (!zip) {
            ::close(fd);
            return refuse(QStringLiteral("paketet är trasigt: %1").arg(zipProblem(code)));
        }
        m_zip.reset(zip);
        return true;
    }

    // An entry as the archive names it, checked, before it is given its place in the pack.
    struct Named {
        zip_uint64_t index = 0;
        QString raw;       ///< the name as the archive gives it, for messages
        QStringList parts; ///< '/'-separated, in NFC, without . or empty parts
        bool folder = false;
    };

    // Every entry's name, kind and attributes, before a byte is unpacked.
    bool survey() {
        const zip_int64_t count = libzip().get_num_entries(m_zip.get(), 0);
        if (count < 0)
            return refuse(QStringLiteral("paketet är trasigt"));
        if (count > m_limits.entries)
            return refuse(
                QStringLiteral("paketet har fler än %1 poster").arg(grouped(m_limits.entries)));
        std::vector<Named> named;
        qint64 litter = 0;
        for (zip_uint64_t i = 0; i < zip_uint64_t(count); ++i) {
            // libzip reads a name without the UTF-8 flag as UTF-8 when it is valid UTF-8, else
            // in code page 437, as the zip format has it; control bytes, which are drawings
            // there, are looked for in the bytes themselves.
            const char* rawBytes = libzip().get_name(m_zip.get(), i, ZIP_FL_ENC_RAW);
            const char* rawName = libzip().get_name(m_zip.get(), i, ZIP_FL_ENC_GUESS);
            if (!rawBytes || !rawName)
                return refuse(QStringLiteral("paketet är trasigt: %1")
                                  .arg(zipProblem(libzip().get_error(m_zip.get()))));
            Named entry{i, QString::fromUtf8(rawName), {}, false};
            for (const char* c = rawBytes; *c; ++c)
                if (quint8(*c) < 0x20 || *c == 0x7f)
                    return refuse(QStringLiteral("%1 i paketet har styrtecken i namnet")
                                      .arg(quoted(entry.raw)));
            if (!checkEntry(entry))
                return false;
            // Checked like any entry first: litter that is a link still refuses the pack.
            if (isSystemLitter(entry.parts))
                ++litter;
            else
                named.push_back(std::move(entry));
        }

        // A zip of the folder itself: the folder that holds brumlis.json is the pack's root.
        const qsizetype strip = underOneTopFolder(named) ? 1 : 0;
        QSet<QString> seen;
        QStringList skipped;
        for (const Named& name : named) {
            const QStringList parts = name.parts.mid(strip);
            Entry entry;
            entry.index = name.index;
            entry.kind = parts.isEmpty() ? Kind::Folder : kindOf(parts, name.folder, &entry.path);
            if (entry.kind == Kind::Folder)
                continue;
            if (entry.kind == Kind::Other) {
                skipped << entry.path;
                continue;
            }
            if (!checkData(entry))
                return false;
            if (seen.contains(entry.path))
                return refuse(
                    QStringLiteral("%1 finns två gånger i paketet").arg(quoted(entry.path)));
            seen.insert(entry.path);
            if (entry.kind == Kind::Manifest)
                m_manifest = entry;
            else
                m_entries.push_back(entry);
        }
        for (const QString& path : skipped.mid(0, MaxSkippedNamed))
            m_result.warnings << QStringLiteral("%1 hoppas över: bara brumlis.json, mallar.txt, "
                                                "text/*.txt och sound/*.wav packas upp")
                                     .arg(quoted(path));
        if (skipped.size() > MaxSkippedNamed)
            m_result.warnings << QStringLiteral("… och %1 hoppas över")
                                     .arg(qt(swedishCount(skipped.size() - MaxSkippedNamed,
                                                          u"fil till", u"filer till")));
        if (litter > 0)
            m_result.warnings << QStringLiteral(
                                     "%1 som macOS eller Windows lägger till (__MACOSX, ._*, "
                                     ".DS_Store, Thumbs.db) hoppas över")
                                     .arg(qt(swedishCount(litter, u"fil", u"filer")));
        if (!m_manifest)
            return refuse(missingManifest(named));
        return true;
    }

    // True when every entry lies under one folder, and that folder holds brumlis.json.
    static bool underOneTopFolder(const std::vector<Named>& named) {
        bool manifest = false;
        for (const Named& entry : named) {
            if (entry.parts.isEmpty())
                continue; // "./"
            if (entry.parts.first() != named.front().parts.value(0) ||
                (entry.parts.size() == 1 && !entry.folder))
                return false;
            manifest = manifest || (entry.parts.size() == 2 && !entry.folder &&
                                    entry.parts[1].compare(QLatin1String(ManifestFileName),
                                                           Qt::CaseInsensitive) == 0);
        }
        return manifest;
    }

    // "paketet saknar brumlis.json", and where one is when it is deeper down.
    static QString missingManifest(const std::vector<Named>& named) {
        for (const Named& entry : named)
            if (!entry.folder && !entry.parts.isEmpty() &&
                entry.parts.last().compare(QLatin1String(ManifestFileName), Qt::CaseInsensitive) ==
                    0)
                return QStringLiteral("paketet saknar %1 överst: den ligger i %2, men paketets "
                                      "mappar text/ och sound/ ska ligga bredvid den")
                    .arg(QLatin1String(ManifestFileName), quoted(entry.parts.join(u'/')));
        return QStringLiteral("paketet saknar %1").arg(QLatin1String(ManifestFileName));
    }

    // The path of one entry and whether it is a folder; refuses the pack for an entry that
    // climbs out of its folder, is not a regular file or folder, or cannot be read.
    bool checkEntry(Named& entry) {
        // Old Windows tools write backslashes: they separate parts here too, so that "..\"
        // climbs as "../" does. macOS writes names decomposed (NFD); Linux and Windows
        // compose them, and so does every name in a pack once unpacked.
        QString name = entry.raw.normalized(QString::NormalizationForm_C);
        name.replace(u'\\', u'/');
        const QString& raw = entry.raw;
        for (const QChar c : name)
            if (c.category() == QChar::Other_Control)
                return refuse(
                    QStringLiteral("%1 i paketet har styrtecken i namnet").arg(quoted(raw)));
        if (name.startsWith(u'/') || (name.size() >= 2 && name[1] == u':' && name[0].isLetter()))
            return refuse(QStringLiteral("%1 i paketet är en absolut sökväg").arg(quoted(raw)));
        for (const QString& part : name.split(u'/', Qt::SkipEmptyParts)) {
            if (part == QStringLiteral(".."))
                return refuse(QStringLiteral("%1 i paketet pekar ut ur sin mapp").arg(quoted(raw)));
            if (part != QStringLiteral("."))
                entry.parts << part;
        }

        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        if (libzip().file_get_external_attributes(m_zip.get(), entry.index, 0, &opsys,
                                                  &attributes) != 0)
            return refuse(QStringLiteral("paketet är trasigt: %1")
                              .arg(zipProblem(libzip().get_error(m_zip.get()))));
        bool folder = name.endsWith(u'/') || entry.parts.isEmpty();
        if (opsys == ZIP_OPSYS_UNIX || opsys == OpsysDarwin) {
            // The upper half is the Unix mode; 0 (no type) is what some tools write for a file.
            const mode_t type = mode_t(attributes >> 16) & S_IFMT;
            folder = folder || type == S_IFDIR;
            if (type != 0 && type != (folder ? S_IFDIR : S_IFREG))
                return refuse(QStringLiteral("%1 i paketet är ingen vanlig fil (en symbolisk länk, "
                                             "en enhet eller liknande)")
                                  .arg(quoted(raw)));
        } else if (attributes & DosDirectory) {
            folder = true;
        }
        entry.folder = folder;
        return true;
    }

    // Refuses the pack for a file of the voice that cannot be unpacked: encrypted, or
    // compressed in a way libzip does not know.
    bool checkData(const Entry& entry) {
        zip_stat_t stat;
        libzip().stat_init(&stat);
        if (libzip().stat_index(m_zip.get(), entry.index, 0, &stat) != 0)
            return refuse(QStringLiteral("paketet är trasigt: %1")
                              .arg(zipProblem(libzip().get_error(m_zip.get()))));
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
            return refuse(QStringLiteral("%1 i paketet är krypterad").arg(quoted(entry.path)));
        if ((stat.valid & ZIP_STAT_COMP_METHOD) &&
            !libzip().compression_method_supported(stat.comp_method, 0))
            return refuse(
                QStringLiteral("%1 i paketet är packad på ett okänt sätt").arg(quoted(entry.path)));
        return true;
    }

    // Reads `entry` to its end, handing each piece to `sink`, and counts every byte against
    // `fileLimit` and the total before it is handed on. False once the pack is refused.
    bool pump(const Entry& entry, qint64 fileLimit,
              const std::function<bool(const char*, qint64)>& sink) {
        const ZipEntryFile in(libzip().fopen_index(m_zip.get(), entry.index, 0));
        if (!in)
            return refuse(
                QStringLiteral("%1 i paketet är trasig: %2")
                    .arg(quoted(entry.path), zipProblem(libzip().get_error(m_zip.get()))));
        std::vector<char> buffer(ChunkBytes);
        qint64 size = 0;
        for (;;) {
            // At the end libzip compares the size and checksum of what it unpacked with the
            // headers: a truncated or altered entry fails here.
            const zip_int64_t n = libzip().fread(in.get(), buffer.data(), zip_uint64_t(ChunkBytes));
            if (n < 0)
                return refuse(
                    QStringLiteral("%1 i paketet är trasig: %2")
                        .arg(quoted(entry.path), zipProblem(libzip().file_get_error(in.get()))));
            if (n == 0)
                return true;
            if (size + n > fileLimit)
                return refuse(QStringLiteral("%1 i paketet blir större än %2 uppackad")
                                  .arg(quoted(entry.path), sizeText(fileLimit)));
            if (m_result.bytesWritten + n > m_limits.totalBytes)
                return refuse(QStringLiteral("paketet blir större än %1 uppackat")
                                  .arg(sizeText(m_limits.totalBytes)));
            if (!sink(buffer.data(), n))
                return false;
            size += n;
            m_result.bytesWritten += n;
        }
    }

    bool readManifest() {
        const qint64 limit = std::min(m_limits.manifestBytes, m_limits.fileBytes);
        const bool read = pump(*m_manifest, limit, [this](const char* data, qint64 n) {
            m_manifestBytes.append(data, n);
            return true;
        });
        if (!read)
            return false;
        QString problem;
        const std::optional<PackManifest> manifest = parseManifest(m_manifestBytes, &problem);
        if (!manifest)
            return refuse(QStringLiteral("%1 i paketet är felaktig: %2")
                              .arg(QLatin1String(ManifestFileName), problem));
        m_result.manifest = *manifest;
        return true;
    }

    bool unpack(const QString& folder) {
        const FileDescriptor root(::open(QFile::encodeName(folder).constData(),
                                         O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        if (root.get() < 0)
            return refuse(writeProblem(folder));
        for (const char* sub : {"text", "sound"})
            if (::mkdirat(root.get(), sub, 0755) != 0)
                return refuse(writeProblem(QString::fromLatin1(sub)));
        if (!writeFile(root.get(), m_manifest->path, [this](int fd) {
                return writeAll(fd, m_manifestBytes.constData(), m_manifestBytes.size());
            }))
            return false;
        for (const Entry& entry : m_entries) {
            const bool written = writeFile(root.get(), entry.path, [&](int fd) {
                return pump(entry, m_limits.fileBytes, [&](const char* data, qint64 n) {
                    return writeAll(fd, data, n) || refuse(writeProblem(entry.path));
                });
            });
            if (!written)
                return false;
        }
        return true;
    }

    // Creates `path` under `root` (never an existing file, never through a link) and fills it.
    bool writeFile(int root, const QString& path, const std::function<bool(int)>& fill) {
        FileDescriptor fd(::openat(root, QFile::encodeName(path).constData(),
                                   O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644));
        if (fd.get() < 0)
            return refuse(writeProblem(path));
        if (!fill(fd.get()))
            return m_result.error.isEmpty() ? refuse(writeProblem(path)) : false;
        return fd.close() || refuse(writeProblem(path));
    }

    static QString writeProblem(const QString& path) {
        return QStringLiteral("kan inte skriva %1: %2").arg(path, qt(systemErrorText(errno)));
    }

    UnpackLimits m_limits;
    ZipArchive m_zip;
    std::optional<Entry> m_manifest;
    QByteArray m_manifestBytes;
    std::vector<Entry> m_entries;
    PackReading m_result;
};

} // namespace

PackReading unpackPack(const QString& packFile, const QString& emptyFolder,
                       const UnpackLimits& limits) {
    return Reader(limits).read(packFile, &emptyFolder);
}

PackReading readPack(const QString& packFile, const UnpackLimits& limits) {
    return Reader(limits).read(packFile, nullptr);
}

} // namespace brumlis
