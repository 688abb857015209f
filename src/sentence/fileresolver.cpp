#include "brumlis/sentence/fileresolver.h"

#include "brumlis/sentence/wordlist.h"

#include <QFile>
#include <QStringConverter>
#include <QStringList>
#include <algorithm>
#include <ctime>
#include <dirent.h>
#include <mutex>
#include <optional>
#include <sys/stat.h>
#include <unordered_map>
#include <vector>

namespace brumlis {

namespace {

bool exists(const QByteArray& path) {
    struct stat st;
    return ::lstat(path.constData(), &st) == 0;
}

QString caseKey(const QString& name) {
    return name.toCaseFolded();
}

QString normalisedKey(const QString& name) {
    // Folding can change the composition, so normalise on both sides of it.
    return name.normalized(QString::NormalizationForm_C)
        .toCaseFolded()
        .normalized(QString::NormalizationForm_C);
}

bool isUtf8(const QByteArray& bytes) {
    QStringDecoder decoder(QStringDecoder::Utf8, QStringDecoder::Flag::Stateless);
    const QString text = decoder(bytes); // the decoder only runs when its result is taken
    return !decoder.hasError();
}

bool earlier(const timespec& a, const timespec& b) {
    return a.tv_sec < b.tv_sec || (a.tv_sec == b.tv_sec && a.tv_nsec < b.tv_nsec);
}

QByteArray joined(const QByteArray& folder, const QByteArray& name) {
    if (folder.isEmpty())
        return name;
    return folder.endsWith('/') ? folder + name : folder + '/' + name;
}

using Match = FileResolver::Match;

} // namespace

/// The names of one folder, keyed by each relaxed rule. Never changed once built, so
/// threads share it without a lock.
class FileResolver::FolderIndex {
public:
    /// Reads `folder`, whose status `info` was taken just before.
    FolderIndex(const QByteArray& folder, const struct stat& info)
        : m_device(info.st_dev)
        , m_inode(info.st_ino)
        , m_modified(info.st_mtim) {
        // File times come from the kernel's coarse clock. A change made within the same
        // tick as the folder's last one leaves its time as it was, so an index read in
        // that tick cannot know it is out of date: it serves this lookup and no other.
        timespec start{};
        ::clock_gettime(CLOCK_REALTIME_COARSE, &start);
        m_trusted = earlier(m_modified, start);

        DIR* dir = ::opendir(folder.isEmpty() ? "." : folder.constData());
        if (dir) {
            while (const dirent* entry = ::readdir(dir)) {
                const QByteArray name(entry->d_name);
                if (name != "." && name != "..")
                    m_names.push_back(name);
            }
            ::closedir(dir);
        }
        // Sorted, and each key kept by its first name: the first match by bytes wins.
        std::sort(m_names.begin(), m_names.end());
        for (std::size_t i = 0; i < m_names.size(); ++i) {
            const QByteArray& name = m_names[i];
            if (isUtf8(name)) {
                const QString text = QString::fromUtf8(name);
                m_byCase.try_emplace(caseKey(text), i);
                m_byForm.try_emplace(normalisedKey(text), i);
            } else {
                // Bytes that are not UTF-8 were most likely written in the Windows code page.
                m_byWindows1252.try_emplace(normalisedKey(decodeWindows1252(name)), i);
            }
        }
    }

    /// Still describes the folder whose status is `info`.
    bool current(const struct stat& info) const {
        return m_trusted && info.st_dev == m_device && info.st_ino == m_inode &&
               info.st_mtim.tv_sec == m_modified.tv_sec &&
               info.st_mtim.tv_nsec == m_modified.tv_nsec;
    }

    /// Finds `wanted` by the relaxed rules, in their order.
    Found match(const QString& wanted) const {
        if (const auto it = m_byCase.find(caseKey(wanted)); it != m_byCase.end())
            return {m_names[it->second], Match::Case};
        const QString byForm = normalisedKey(wanted);
        if (const auto it = m_byForm.find(byForm); it != m_byForm.end())
            return {m_names[it->second], Match::Form};
        if (const auto it = m_byWindows1252.find(byForm); it != m_byWindows1252.end())
            return {m_names[it->second], Match::Windows1252};
        return {};
    }

private:
    using Keys = std::unordered_map<QString, std::size_t>;

    dev_t m_device;
    ino_t m_inode;
    timespec m_modified;
    bool m_trusted = false;
    std::vector<QByteArray> m_names;
    Keys m_byCase;
    Keys m_byForm;
    Keys m_byWindows1252;
};

/// The folder indexes of one resolver. The audio engine may ask from its own thread
/// while the window asks from the GUI thread.
class FileResolver::IndexCache {
public:
    /// The index of `folder`, current as of this call; null when it is no folder.
    std::shared_ptr<const FolderIndex> get(const QByteArray& folder) {
        struct stat info {};
        if (::stat(folder.isEmpty() ? "." : folder.constData(), &info) != 0 ||
            !S_ISDIR(info.st_mode))
            return nullptr;
        {
            const std::lock_guard lock(m_mutex);
            const auto it = m_indexes.find(folder);
            if (it != m_indexes.end() && it->second->current(info))
                return it->second;
        }
        // Built without the lock: reading a large folder must not hold up other lookups.
        auto index = std::make_shared<const FolderIndex>(folder, info);
        const std::lock_guard lock(m_mutex);
        // Only existing folders get here, but a voice may still have very many of them.
        if (m_indexes.size() >= MaxFolders)
            m_indexes.clear();
        m_indexes[folder] = index;
        return index;
    }

private:
    static constexpr std::size_t MaxFolders = 64;

    std::mutex m_mutex;
    std::unordered_map<QByteArray, std::shared_ptr<const FolderIndex>> m_indexes;
};

FileResolver::FileResolver(QString dataDir)
    : m_root(QFile::encodeName(dataDir))
    , m_indexes(std::make_unique<IndexCache>()) {}

FileResolver::~FileResolver() = default;

void FileResolver::prepare() const {
    m_indexes->get(joined(m_root, QByteArrayLiteral("sound")));
}

namespace {

// The components of a path under the data folder, or nothing for one that is empty, absolute
// or climbs out with "..".
std::optional<QStringList> componentsOf(const QString& path) {
    // No file name holds NUL, and the system calls would stop reading the path there.
    if (path.isEmpty() || path.contains(QChar(0)))
        return std::nullopt;
    QString unified = path;
    unified.replace(u'\\', u'/');
    // Absolute on either system: "/x", "C:x" or "C:/x".
    if (unified.startsWith(u'/') || (unified.size() >= 2 && unified[1] == u':'))
        return std::nullopt;

    QStringList parts;
    for (const QString& part : unified.split(u'/', Qt::SkipEmptyParts)) {
        if (part == u"..")
            return std::nullopt;
        if (part != u".")
            parts << part;
    }
    if (parts.isEmpty())
        return std::nullopt;
    return parts;
}

QByteArray exactPathOf(const QByteArray& root, const QStringList& parts) {
    QByteArray exact = root;
    for (const QString& part : parts)
        exact = joined(exact, QFile::encodeName(part));
    return exact;
}

} // namespace

QByteArray FileResolver::exactPath(const QString& path) const {
    const std::optional<QStringList> parts = componentsOf(path);
    return parts ? exactPathOf(m_root, *parts) : QByteArray();
}

FileResolver::Found FileResolver::find(const QString& path) const {
    const std::optional<QStringList> parts = componentsOf(path);
    if (!parts)
        return {};
    if (const QByteArray exact = exactPathOf(m_root, *parts); exists(exact))
        return {exact, Match::Exact};

    Found found{m_root, Match::Exact};
    for (const QString& part : *parts) {
        const QByteArray direct = joined(found.path, QFile::encodeName(part));
        if (exists(direct)) {
            found.path = direct;
            continue;
        }
        const std::shared_ptr<const FolderIndex> index = m_indexes->get(found.path);
        const Found match = index ? index->match(part) : Found{};
        if (match.match == Match::None)
            return {};
        found.path = joined(found.path, match.path);
        found.match = std::max(found.match, match.match);
    }
    return found;
}

ListStatus readDataList(const FileResolver& files, const QString& path, ListBuffers& buffers,
                        ListEncoding* encoding, FileResolver::Found* found) {
    // The exact name costs no more than it did before names were looked up loosely.
    const QByteArray exact = files.exactPath(path);
    ListStatus status =
        exact.isEmpty() ? ListStatus::Missing : readListFileAt(exact, buffers, encoding);
    FileResolver::Found where{exact, FileResolver::Match::Exact};
    if (status == ListStatus::Missing) {
        where = files.find(path);
        if (where.match != FileResolver::Match::None)
            status = readListFileAt(where.path, buffers, encoding);
    }
    if (found)
        *found = status == ListStatus::Missing ? FileResolver::Found{} : where;
    return status;
}

} // namespace brumlis
