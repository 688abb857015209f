#include "brumlis/packs/packreader.h"

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
    QString path; ///< relative, '/'-separated, without . or empty parts
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

Kind kindOf(const QStringList& parts, bool folder) {
    if (folder)
        return Kind::Folder;
    if (parts.size() == 1 && parts[0] == QLatin1String(ManifestFileName))
        return Kind::Manifest;
    if (parts.size() == 1 && parts[0] == QStringLiteral("mallar.txt"))
        return Kind::Shapes;
    if (parts.size() == 2 && parts[0] == QStringLiteral("text") &&
        parts[1].endsWith(QStringLiteral(".txt")))
        return Kind::List;
    if (parts.size() == 2 && parts[0] == QStringLiteral("sound") &&
        parts[1].endsWith(QStringLiteral(".wav"), Qt::CaseInsensitive))
        return Kind::Recording;
    return Kind::Other;
}

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
        const int fd = ::open(QFile::encodeName(packFile).constData(),
                              O_RDONLY | O_CLOEXEC | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return refuse(QStringLiteral("kan inte öppna %1: %2")
                              .arg(packFile, QString::fromLocal8Bit(std::strerror(errno))));
        struct stat status {};
        if (::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) {
            ::close(fd);
            return refuse(QStringLiteral("%1 är ingen vanlig fil").arg(packFile));
        }
        int code = 0;
        // On success the archive owns the descriptor; on failure it is still ours.
        zip_t* zip = zip_fdopen(fd, ZIP_RDONLY | ZIP_CHECKCONS, &code);
        if (!zip) {
            ::close(fd);
            return refuse(QStringLiteral("paketet är trasigt: %1").arg(zipProblem(code)));
        }
        m_zip.reset(zip);
        return true;
    }

    // Every entry's name, kind and attributes, before a byte is unpacked.
    bool survey() {
        const zip_int64_t count = zip_get_num_entries(m_zip.get(), 0);
        if (count < 0)
            return refuse(QStringLiteral("paketet är trasigt"));
        if (count > m_limits.entries)
            return refuse(
                QStringLiteral("paketet har fler än %1 poster").arg(grouped(m_limits.entries)));
        QSet<QString> seen;
        for (zip_uint64_t i = 0; i < zip_uint64_t(count); ++i) {
            // libzip reads a name that is not UTF-8 as the old DOS code page, where control
            // bytes are drawings: they are looked for in the bytes themselves.
            const char* rawBytes = zip_get_name(m_zip.get(), i, ZIP_FL_ENC_RAW);
            const char* rawName = zip_get_name(m_zip.get(), i, ZIP_FL_ENC_GUESS);
            if (!rawBytes || !rawName)
                return refuse(QStringLiteral("paketet är trasigt: %1")
                                  .arg(zipProblem(zip_get_error(m_zip.get()))));
            const QString raw = QString::fromUtf8(rawName);
            for (const char* c = rawBytes; *c; ++c)
                if (quint8(*c) < 0x20 || *c == 0x7f)
                    return refuse(
                        QStringLiteral("%1 i paketet har styrtecken i namnet").arg(quoted(raw)));
            Entry entry;
            entry.index = i;
            if (!checkEntry(raw, entry))
                return false;
            if (entry.kind == Kind::Folder)
                continue;
            if (entry.kind == Kind::Other) {
                m_result.warnings << QStringLiteral(
                                         "%1 hoppas över: bara brumlis.json, mallar.txt, "
                                         "text/*.txt och sound/*.wav packas upp")
                                         .arg(quoted(entry.path));
                continue;
            }
            if (seen.contains(entry.path))
                return refuse(
                    QStringLiteral("%1 finns två gånger i paketet").arg(quoted(entry.path)));
            seen.insert(entry.path);
            if (entry.kind == Kind::Manifest)
                m_manifest = entry;
            else
                m_entries.push_back(entry);
        }
        if (!m_manifest)
            return refuse(QStringLiteral("paketet saknar %1").arg(QLatin1String(ManifestFileName)));
        return true;
    }

    // The path of one entry and what it is; refuses the pack for an entry that climbs out of
    // its folder, is not a regular file or folder, or cannot be read.
    bool checkEntry(const QString& raw, Entry& entry) {
        // Old Windows tools write backslashes: they separate parts here too, so that "..\"
        // climbs as "../" does.
        QString name = raw;
        name.replace(u'\\', u'/');
        for (const QChar c : name)
            if (c.category() == QChar::Other_Control)
                return refuse(
                    QStringLiteral("%1 i paketet har styrtecken i namnet").arg(quoted(raw)));
        if (name.startsWith(u'/') || (name.size() >= 2 && name[1] == u':' && name[0].isLetter()))
            return refuse(QStringLiteral("%1 i paketet är en absolut sökväg").arg(quoted(raw)));
        QStringList parts;
        for (const QString& part : name.split(u'/', Qt::SkipEmptyParts)) {
            if (part == QStringLiteral(".."))
                return refuse(QStringLiteral("%1 i paketet pekar ut ur sin mapp").arg(quoted(raw)));
            if (part != QStringLiteral("."))
                parts << part;
        }
        entry.path = parts.join(u'/');

        zip_uint8_t opsys = 0;
        zip_uint32_t attributes = 0;
        if (zip_file_get_external_attributes(m_zip.get(), entry.index, 0, &opsys, &attributes) != 0)
            return refuse(QStringLiteral("paketet är trasigt: %1")
                              .arg(zipProblem(zip_get_error(m_zip.get()))));
        bool folder = name.endsWith(u'/') || parts.isEmpty();
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
        entry.kind = kindOf(parts, folder);
        if (entry.kind == Kind::Folder || entry.kind == Kind::Other)
            return true;

        zip_stat_t stat;
        zip_stat_init(&stat);
        if (zip_stat_index(m_zip.get(), entry.index, 0, &stat) != 0)
            return refuse(QStringLiteral("paketet är trasigt: %1")
                              .arg(zipProblem(zip_get_error(m_zip.get()))));
        if ((stat.valid & ZIP_STAT_ENCRYPTION_METHOD) && stat.encryption_method != ZIP_EM_NONE)
            return refuse(QStringLiteral("%1 i paketet är krypterad").arg(quoted(entry.path)));
        if ((stat.valid & ZIP_STAT_COMP_METHOD) &&
            !zip_compression_method_supported(stat.comp_method, 0))
            return refuse(
                QStringLiteral("%1 i paketet är packad på ett okänt sätt").arg(quoted(entry.path)));
        return true;
    }

    // Reads `entry` to its end, handing each piece to `sink`, and counts every byte against
    // `fileLimit` and the total before it is handed on. False once the pack is refused.
    bool pump(const Entry& entry, qint64 fileLimit,
              const std::function<bool(const char*, qint64)>& sink) {
        const ZipEntryFile in(zip_fopen_index(m_zip.get(), entry.index, 0));
        if (!in)
            return refuse(QStringLiteral("%1 i paketet är trasig: %2")
                              .arg(quoted(entry.path), zipProblem(zip_get_error(m_zip.get()))));
        std::vector<char> buffer(ChunkBytes);
        qint64 size = 0;
        for (;;) {
            // At the end libzip compares the size and checksum of what it unpacked with the
            // headers: a truncated or altered entry fails here.
            const zip_int64_t n = zip_fread(in.get(), buffer.data(), zip_uint64_t(ChunkBytes));
            if (n < 0)
                return refuse(
                    QStringLiteral("%1 i paketet är trasig: %2")
                        .arg(quoted(entry.path), zipProblem(zip_file_get_error(in.get()))));
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
        return QStringLiteral("kan inte skriva %1: %2")
            .arg(path, QString::fromLocal8Bit(std::strerror(errno)));
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
