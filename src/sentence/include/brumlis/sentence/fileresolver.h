#pragma once

#include "brumlis/sentence/wordlist.h"

#include <filesystem>
#include <memory>
#include <string>
#include <string_view>

namespace brumlis {

/// Maps a path under the data folder as the program names it, a recording as a sentence
/// slot holds it ("sound\Kalle.wav" or "sound/Kalle.wav") or a word list
/// ("text/namn.txt"), onto the file that folders made on Windows or macOS hold for it.
///
/// Backslashes count as separators. A path that is absolute or has a ".." component
/// resolves to nothing, so a word can never reach outside the data folder. When the
/// exact name does not exist, each component is looked up in its folder by, in this
/// order: the same name ignoring case (Unicode-aware, so "Åsa" finds "åsa.wav"); the
/// same name ignoring case and Unicode normalisation (NFC/NFD); and a name stored as
/// Windows-1252 bytes, as old archive tools unpack them. Among several matches of the
/// same kind the one whose name sorts first wins, so the choice is stable.
///
/// An exact name costs one look at the file system. The relaxed rules look a name up in an
/// index of the folder's entries, built on first need and rebuilt only when the folder's
/// modification time says it changed, so a voice of 100,000 recordings does not scan
/// the folder for every word it lacks. One resolver may be used from several threads.
class FileResolver {
public:
    /// How a recording was found, from the strictest rule to the loosest.
    enum class Match {
        None,        ///< nothing to play
        Exact,       ///< the exact name (after turning backslashes into slashes)
        Case,        ///< only by ignoring case
        Form,        ///< only by ignoring case and Unicode normalisation (NFC/NFD)
        Windows1252, ///< only as a name stored in Windows-1252 bytes
    };

    struct Found {
        std::filesystem::path path; ///< empty when nothing matched
        Match match = Match::None;  ///< the loosest rule any component of the path needed
    };

    explicit FileResolver(std::filesystem::path dataDir);
    ~FileResolver();
    FileResolver(const FileResolver&) = delete;
    FileResolver& operator=(const FileResolver&) = delete;

    /// Builds the index of the sound folder now, so that the first word without an exact
    /// recording does not pay for reading a large folder. Meant to be called off the GUI
    /// thread's critical path, for example while the previous word plays; calling it is
    /// never needed for correct answers, and it is cheap when the index is current.
    void prepare() const;

    /// The file for `path`, and the rule it was found by. The result may name something
    /// that is not a regular file; the decoder checks that.
    Found find(std::u16string_view path) const;

    /// The path of find(): empty when there is nothing to play.
    std::filesystem::path resolve(std::u16string_view path) const { return find(path).path; }

    /// `path` under the data folder by its exact name, whether it exists or not; empty for a
    /// path find() refuses (absolute, climbing out).
    std::filesystem::path exactPath(std::u16string_view path) const;

private:
    class FolderIndex;
    class IndexCache;

    std::filesystem::path m_root;
    std::unique_ptr<IndexCache> m_indexes;
};

/// Reads the list at `path` under the data folder ("text/namn.txt"): by its exact name, and
/// when that is missing, as find() finds it (another case or Unicode form, a name stored as
/// Windows-1252 bytes, a folder "Text"). `found`, when given, says which file was read and
/// by what rule; Match::None when there was none.
ListStatus readDataList(const FileResolver& files, std::u16string_view path, ListBuffers& buffers,
                        ListEncoding* encoding = nullptr, FileResolver::Found* found = nullptr);

} // namespace brumlis
