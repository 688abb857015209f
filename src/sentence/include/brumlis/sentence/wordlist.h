#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brumlis {

/// How the bytes of a word list were read.
enum class ListEncoding {
    Utf8,        ///< valid UTF-8 without a byte-order mark (plain ASCII included)
    Utf8Bom,     ///< UTF-8 with its byte-order mark
    Utf16LE,     ///< byte-order mark FF FE
    Utf16BE,     ///< byte-order mark FE FF
    Windows1252, ///< not UTF-8: lists saved on older Windows
    Mixed,       ///< no mark; some lines UTF-8, others Windows-1252
};

/// The encoding for scripts ("utf-8", "windows-1252", ...) and for people ("UTF-8",
/// "Windows-1252", ...).
std::u16string encodingKey(ListEncoding encoding);
std::u16string encodingName(ListEncoding encoding);

struct DecodedList {
    std::u16string text;
    ListEncoding encoding = ListEncoding::Utf8;
};

/// Turns the bytes of a word list into text. A file with a byte-order mark is decoded
/// whole: UTF-16 LE/BE, or UTF-8 (falling back to Windows-1252 if it is not valid
/// UTF-8 after all). Without a mark each line is decoded on its own: as UTF-8 when it is
/// valid UTF-8, otherwise as Windows-1252, which is what lists saved on older Windows
/// are in. So a stray byte pasted into a UTF-8 list spoils only its own line.
DecodedList decodeList(std::string_view bytes);

/// The text of decodeList().
inline std::u16string decodeListBytes(std::string_view bytes) {
    return decodeList(bytes).text;
}

/// Walks the items of a decoded word list one by one.
///
/// Items are separated by commas and line ends (CR LF, LF or a lone CR). Blanks and
/// tabs before an item are skipped, and after an unquoted item dropped. A quoted item
/// is taken without its quotes and may hold commas; whatever follows its closing quote
/// up to the next separator is ignored, and a quote left open runs to the end of its
/// line. An empty line is one empty item, a trailing comma adds one more empty item,
/// and the line end after the last item does not start a new one. An item longer than
/// MaxItemLength is cut there (never inside a surrogate pair); the rest of it is skipped.
class ItemReader {
public:
    explicit ItemReader(std::u16string_view text)
        : m_text(text) {}

    /// Moves to the next item; false at the end of the text. With `item` given, the
    /// item's text is stored there (counting passes leave it null and copy nothing).
    bool next(std::u16string* item = nullptr);

    /// True when the item next() last moved to was longer than MaxItemLength and is
    /// handed out cut.
    bool lastItemCut() const { return m_lastCut; }

private:
    std::u16string_view m_text;
    std::size_t m_pos = 0;
    bool m_pendingEmpty = false; ///< a trailing comma left one empty item to hand out
    bool m_lastCut = false;
};

std::size_t countItems(std::u16string_view text);
std::vector<std::u16string> parseItems(std::u16string_view text);

/// A list file larger than this is not read: no word list needs it, and reading and
/// laying out more would keep the window from answering.
inline constexpr std::int64_t MaxListBytes = 16 * 1024 * 1024;

/// No item is longer than this many characters (UTF-16 code units), on screen or in a
/// file name. Longer items are cut rather than the list refused: one runaway line, say
/// a file that lost its line ends, should not take every other word with it.
inline constexpr std::size_t MaxItemLength = 1000;

/// How often a list that changed while it was read is read again before the last read
/// is taken as it is.
inline constexpr int MaxListRereads = 2;

/// Outcome of reading a word list file.
enum class ListStatus {
    Ok,
    Missing,    ///< no such file
    Unreadable, ///< a folder, a FIFO or device, no permission, or a read error
    TooLarge,   ///< over MaxListBytes
};

struct ListFile {
    ListStatus status = ListStatus::Missing;
    std::u16string text; ///< the decoded contents when status is Ok
    ListEncoding encoding = ListEncoding::Utf8;
};

/// What a failed pick says after "text/<klass>.txt ": "existerar inte", "kan inte läsas".
/// Empty for ListStatus::Ok.
std::u16string problemText(ListStatus status);
/// The status for scripts: "ok", "missing", ...
std::u16string listStatusKey(ListStatus status);

/// Called after each chunk readListFile() takes from a file, with the number of the
/// read (1 for the first, 2 and 3 for the re-reads) and the bytes read so far in it.
/// Tests use it to change a file while it is being read.
using ListReadObserver = std::function<void(int read, std::int64_t bytesSoFar)>;

/// Storage that readListFile() reuses from one call to the next, so that picking again
/// from a large list needs no fresh memory, which the system would first have to fault in.
struct ListBuffers {
    std::string bytes;   ///< the file as read
    std::u16string text; ///< the decoded list
};

/// Reads and decodes the file at `path`. Never blocks on a FIFO or device, and never
/// reads from anything but a regular file. A file whose size or modification time
/// changed while it was read (an editor saving in place) is read again, at most
/// MaxListRereads more times; a file that keeps changing is used as last read.
ListFile readListFile(const std::filesystem::path& path, const ListReadObserver& observer = {});

/// As readListFile(), with the decoded list in `buffers.text` (left as it was on failure)
/// and its encoding in `encoding` when given.
ListStatus readListFile(const std::filesystem::path& path, ListBuffers& buffers,
                        ListEncoding* encoding = nullptr, const ListReadObserver& observer = {});

} // namespace brumlis
