#include "brumlis/sentence/fileresolver.h"

#include "brumlis/platform/files.h"
#include "brumlis/platform/text.h"
#include "brumlis/text/text.h"

#include <algorithm>
#include <map>
#include <mutex>
#include <optional>
#include <system_error>
#include <unordered_map>
#include <vector>

namespace brumlis {

namespace {

using Match = FileResolver::Match;

std::u16string caseKey(std::u16string_view name) {
    return platform::caseFolded(name);
}

std::u16string normalisedKey(std::u16string_view name) {
    // Folding can change the composition, so normalise on both sides of it.
    return platform::composed(platform::caseFolded(platform::composed(name)));
}

// The working directory is the data folder when none is given.
std::filesystem::path orHere(const std::filesystem::path& folder) {
    return folder.empty() ? std::filesystem::path(".") : folder;
}

// The components of a path under the data folder, or nothing for one that is empty, absolute
// or climbs out with "..".
std::optional<std::vector<std::u16string>> componentsOf(std::u16string_view path) {
    // No file name holds NUL, and the system calls would stop reading the path there.
    if (path.empty() || path.find(u'\0') != std::u16string_view::npos)
        return std::nullopt;
    const std::u16string unified = replaced(std::u16string(path), u'\\', u'/');
    // Absolute on either system: "/x", "C:x" or "C:/x".
    if (unified.front() == u'/' || (unified.size() >= 2 && unified[1] == u':'))
        return std::nullopt;

    std::vector<std::u16string> parts;
    for (const std::u16string_view part : splitSkippingEmpty(unified, u'/')) {
        if (part == u"..")
            return std::nullopt;
        if (part != u".")
            parts.emplace_back(part);
    }
    if (parts.empty())
        return std::nullopt;
    return parts;
}

std::filesystem::path exactPathOf(const std::filesystem::path& root,
                                  const std::vector<std::u16string>& parts) {
    std::filesystem::path exact = root;
    for (const std::u16string& part : parts)
        exact /= platform::pathOf(part);
    return exact;
}

} // namespace

/// The names of one folder, keyed by each relaxed rule. Never changed once built, so
/// threads share it without a lock.
class FileResolver::FolderIndex {
public:
    /// Reads `folder`, whose stamp was taken just before.
    FolderIndex(const std::filesystem::path& folder, const platform::FolderStamp& stamp)
        : m_stamp(stamp) {
        std::error_code error;
        for (std::filesystem::directory_iterator it(orHere(folder), error), end;
             !error && it != end; it.increment(error))
            m_names.push_back(it->path().filename());
        // Sorted, and each key kept by its first name: the first match by name wins.
        std::sort(m_names.begin(), m_names.end(),
                  [](const auto& a, const auto& b) { return a.native() < b.native(); });
        for (std::size_t i = 0; i < m_names.size(); ++i) {
            bool foreign = false;
            const std::u16string text = platform::textOf(m_names[i], &foreign);
            if (!foreign) {
                m_byCase.try_emplace(caseKey(text), i);
                m_byForm.try_emplace(normalisedKey(text), i);
            } else {
                // Bytes that are not UTF-8 were most likely written in the Windows code page.
                m_byWindows1252.try_emplace(normalisedKey(text), i);
            }
        }
    }

    /// Still describes the folder whose stamp is `stamp`. An index read in the same tick of
    /// the file system's clock as the folder's last change cannot know it is out of date:
    /// it serves the lookup it was built for and no other.
    bool current(const platform::FolderStamp& stamp) const {
        return m_stamp.settled && stamp == m_stamp;
    }

    /// Finds `wanted` by the relaxed rules, in their order.
    std::optional<std::pair<std::filesystem::path, Match>> match(std::u16string_view wanted) const {
        if (const auto it = m_byCase.find(caseKey(wanted)); it != m_byCase.end())
            return std::pair{m_names[it->second], Match::Case};
        const std::u16string byForm = normalisedKey(wanted);
        if (const auto it = m_byForm.find(byForm); it != m_byForm.end())
            return std::pair{m_names[it->second], Match::Form};
        if (const auto it = m_byWindows1252.find(byForm); it != m_byWindows1252.end())
            return std::pair{m_names[it->second], Match::Windows1252};
        return std::nullopt;
    }

private:
    using Keys = std::unordered_map<std::u16string, std::size_t>;

    platform::FolderStamp m_stamp;
    std::vector<std::filesystem::path> m_names;
    Keys m_byCase;
    Keys m_byForm;
    Keys m_byWindows1252;
};

/// The folder indexes of one resolver. The audio engine may ask from its own thread
/// while the window asks from the GUI thread.
class FileResolver::IndexCache {
public:
    /// The index of `folder`, current as of this call; null when it is no folder.
    std::shared_ptr<const FolderIndex> get(const std::filesystem::path& folder) {
        platform::FolderStamp stamp;
        if (!platform::folderStamp(orHere(folder), stamp))
            return nullptr;
        {
            const std::lock_guard lock(m_mutex);
            const auto it = m_indexes.find(folder.native());
            if (it != m_indexes.end() && it->second->current(stamp))
                return it->second;
        }
        // Built without the lock: reading a large folder must not hold up other lookups.
        auto index = std::make_shared<const FolderIndex>(folder, stamp);
        const std::lock_guard lock(m_mutex);
        // Only existing folders get here, but a voice may still have very many of them.
        if (m_indexes.size() >= MaxFolders)
            m_indexes.clear();
        m_indexes[folder.native()] = index;
        return index;
    }

private:
    static constexpr std::size_t MaxFolders = 64;

    std::mutex m_mutex;
    std::map<std::filesystem::path::string_type, std::shared_ptr<const FolderIndex>> m_indexes;
};

FileResolver::FileResolver(std::filesystem::path dataDir)
    : m_root(std::move(dataDir))
    , m_indexes(std::make_unique<IndexCache>()) {}

FileResolver::~FileResolver() = default;

void FileResolver::prepare() const {
    m_indexes->get(m_root / "sound");
}

std::filesystem::path FileResolver::exactPath(std::u16string_view path) const {
    const auto parts = componentsOf(path);
    return parts ? exactPathOf(m_root, *parts) : std::filesystem::path();
}

FileResolver::Found FileResolver::find(std::u16string_view path) const {
    const auto parts = componentsOf(path);
    if (!parts)
        return {};
    if (std::filesystem::path exact = exactPathOf(m_root, *parts); platform::entryExists(exact))
        return {std::move(exact), Match::Exact};

    Found found{m_root, Match::Exact};
    for (const std::u16string& part : *parts) {
        const std::filesystem::path direct = found.path / platform::pathOf(part);
        if (platform::entryExists(direct)) {
            found.path = direct;
            continue;
        }
        const std::shared_ptr<const FolderIndex> index = m_indexes->get(found.path);
        const auto match = index ? index->match(part) : std::nullopt;
        if (!match)
            return {};
        found.path /= match->first;
        found.match = std::max(found.match, match->second);
    }
    return found;
}

ListStatus readDataList(const FileResolver& files, std::u16string_view path, ListBuffers& buffers,
                        ListEncoding* encoding, FileResolver::Found* found) {
    // The exact name costs no more than it did before names were looked up loosely.
    const std::filesystem::path exact = files.exactPath(path);
    ListStatus status =
        exact.empty() ? ListStatus::Missing : readListFile(exact, buffers, encoding);
    FileResolver::Found where{exact, FileResolver::Match::Exact};
    if (status == ListStatus::Missing) {
        where = files.find(path);
        if (where.match != FileResolver::Match::None)
            status = readListFile(where.path, buffers, encoding);
    }
    if (found)
        *found = status == ListStatus::Missing ? FileResolver::Found{} : where;
    return status;
}

} // namespace brumlis
