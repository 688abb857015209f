#pragma once
// Files, the way every part of the program reads and writes them: a regular file opened
// without blocking and read within a limit, a file written through a temporary file and a
// rename, names between text and the file system. One implementation per platform.
#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>

namespace brumlis::platform {

/// Why a name that is no regular file is not opened, in Swedish.
inline constexpr char16_t NotRegularText[] = u"är ingen vanlig fil";

/// What tells a file that changed from one that did not: its size and modification time.
struct FileStamp {
    std::int64_t size = -1;
    std::int64_t modified = 0; ///< nanoseconds on the file system's clock
    bool operator==(const FileStamp&) const = default;
};

/// A regular file opened for reading. Opening never blocks (on a FIFO without a writer, a
/// device) and refuses anything but a regular file; what is refused is never opened in a
/// way that does something (a tape rewinding, a terminal taken).
class InputFile {
public:
    enum class Problem {
        None,       ///< open
        Missing,    ///< nothing by that name, or a folder on the way is missing
        NotRegular, ///< a folder, FIFO, device or the like
        Unreadable, ///< no permission, or the system would not open it
    };

    InputFile() = default;
    ~InputFile();
    InputFile(const InputFile&) = delete;
    InputFile& operator=(const InputFile&) = delete;

    bool open(const std::filesystem::path& path);
    void close();
    bool isOpen() const { return m_handle != -1; }
    Problem problem() const { return m_problem; }
    /// Why the last open() failed, in Swedish ("filen eller mappen finns inte"); empty when
    /// it did not.
    const std::u16string& why() const { return m_why; }

    /// As the file was when it was opened.
    FileStamp stamp() const { return m_stamp; }
    /// As it is now.
    FileStamp currentStamp() const;
    /// Reads up to `bytes` into `out`: the number read, 0 at the end, -1 on a read error.
    std::int64_t read(void* out, std::int64_t bytes);

    enum class Whole { Read, TooLarge, Failed };
    /// Reads the rest of the file into `out` (replacing what it held) as long as the file
    /// holds at most `limit` bytes: when it was opened, and while it is read, so that a file
    /// that grows past the limit meanwhile is refused too. `progress`, when given, is told
    /// how many bytes have been read after each piece.
    Whole readAll(std::string& out, std::int64_t limit,
                  const std::function<void(std::int64_t)>& progress = {});
    /// The system's own handle, for a library that reads through it: a file descriptor on
    /// Linux, a HANDLE on Windows. Stays this object's.
    std::intptr_t handle() const { return m_handle; }

private:
    std::intptr_t m_handle = -1;
    Problem m_problem = Problem::None;
    std::u16string m_why;
    FileStamp m_stamp;
};

/// Writes `bytes` to `path` so that the name never shows a half-written file: the bytes go
/// to a temporary file in the same folder, are flushed to disk, and the file is then
/// renamed over `path` (over the file it names, when `path` is a link to one). On failure
/// nothing is left behind, an existing `path` is kept as it was, and `error` (when given)
/// says why in Swedish. A `path` that is not a regular file (a device, a FIFO, /dev/stdout
/// on a pipe or terminal) cannot be replaced by one: it is written in place, and a device
/// that refuses the bytes (a full disk) is a failure too.
bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::u16string* error = nullptr);

/// True when `path`, followed through links, exists and is not a regular file.
bool isSpecialFile(const std::filesystem::path& path);

/// Writes the bytes of the file at `source` into `path` as it stands: for output that goes
/// to a device or FIFO, where writeFileAtomically() would write in place too.
bool copyInPlace(const std::filesystem::path& source, const std::filesystem::path& path,
                 std::u16string* error = nullptr);

/// Whether anything goes by `path` (a file, folder, device, a link that leads nowhere),
/// without following a link at its end.
bool entryExists(const std::filesystem::path& path);

/// What tells a folder whose list of names changed from one whose list did not.
struct FolderStamp {
    std::uint64_t device = 0;
    std::uint64_t id = 0;
    std::int64_t modified = 0;
    /// The stamp is older than the file system's clock can tell apart from now: a change
    /// made within the same tick would leave it as it is, so only a settled stamp can say
    /// that a folder is unchanged.
    bool settled = false;
    bool operator==(const FolderStamp& other) const {
        return device == other.device && id == other.id && modified == other.modified;
    }
};

/// The stamp of the folder at `path`; nothing when it is no folder.
bool folderStamp(const std::filesystem::path& path, FolderStamp& stamp);

/// `text` as a file name (UTF-8 bytes on Linux, UTF-16 on Windows).
std::filesystem::path pathOf(std::u16string_view text);
/// A file name as text. `foreign`, when given, is set when the name is not in the system's
/// own encoding and was read as Windows-1252 bytes instead, as old archive tools leave them
/// (never on Windows, whose names are text).
std::u16string textOf(const std::filesystem::path& path, bool* foreign = nullptr);

} // namespace brumlis::platform
