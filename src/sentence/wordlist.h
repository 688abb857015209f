#pragma once

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <QStringView>

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

struct DecodedList {
    QString text;
    ListEncoding encoding = ListEncoding::Utf8;
};

/// Turns the bytes of a word list into text. UTF-16 LE/BE when the file starts with
/// that byte-order mark; UTF-8 (its mark skipped) when the bytes are valid UTF-8;
/// otherwise Windows-1252, which is what lists saved on older Windows are in.
DecodedList decodeList(QByteArrayView bytes);

/// The text of decodeList().
inline QString decodeListBytes(QByteArrayView bytes) {
    return decodeList(bytes).text;
}

/// Walks the items of a decoded word list one by one.
///
/// Items are separated by commas and line ends (CR LF, LF or a lone CR). Blanks and
/// tabs before an item are skipped, and after an unquoted item dropped. A quoted item
/// is taken without its quotes and may hold commas; whatever follows its closing quote
/// up to the next separator is ignored, and a quote left open runs to the end of its
/// line. An empty line is one empty item, a trailing comma adds one more empty item,
/// and the line end after the last item does not start a new one.
class ItemReader {
public:
    explicit ItemReader(QStringView text)
        : m_text(text) {}

    /// Moves to the next item; false at the end of the text. With `item` given, the
    /// item's text is stored there (counting passes leave it null and copy nothing).
    bool next(QString* item = nullptr);

private:
    QStringView m_text;
    qsizetype m_pos = 0;
    bool m_pendingEmpty = false; ///< a trailing comma left one empty item to hand out
};

qsizetype countItems(QStringView text);
QStringList parseItems(QStringView text);

/// A list file larger than this is not read: no word list needs it, and reading and
/// laying out more would keep the window from answering.
inline constexpr qint64 MaxListBytes = 16 * 1024 * 1024;

/// No item is longer than this many characters, on screen or in a file name.
inline constexpr qsizetype MaxItemLength = 1000;

/// Outcome of reading a word list file.
enum class ListStatus {
    Ok,
    Missing,    ///< no such file
    Unreadable, ///< a folder, a FIFO or device, no permission, or a read error
    TooLarge,   ///< over MaxListBytes
};

struct ListFile {
    ListStatus status = ListStatus::Missing;
    QString text; ///< the decoded contents when status is Ok
    ListEncoding encoding = ListEncoding::Utf8;
};

/// What a failed pick says after "text/<klass>.txt ": "existerar inte", "kan inte läsas".
/// Empty for ListStatus::Ok.
QString problemText(ListStatus status);

/// Reads and decodes the file at `path`. Never blocks on a FIFO or device, and never
/// reads from anything but a regular file.
ListFile readListFile(const QString& path);

} // namespace brumlis
