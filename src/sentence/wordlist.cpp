#include "brumlis/sentence/wordlist.h"

#include "brumlis/sentence/enumnames.h"

#include <QFile>
#include <QStringDecoder>
#include <array>
#include <cerrno>
#include <cstdint>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brumlis {

namespace {

// Windows-1252 differs from Latin-1 only in 0x80..0x9F. The five bytes it leaves
// undefined map to the C1 control of the same value, as Windows itself does.
constexpr std::array<char16_t, 32> kCp1252High = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

QChar fromWindows1252(unsigned char b) {
    return (b >= 0x80 && b < 0xA0) ? QChar(kCp1252High[b - 0x80]) : QChar(char16_t(b));
}

/// Decodes one strict UTF-8 sequence (no overlong forms, no surrogates, nothing past
/// U+10FFFF) that starts with the non-ASCII byte at `in`. Returns the bytes it took, or
/// 0 when the bytes there are not UTF-8.
int decodeUtf8Sequence(const unsigned char* in, const unsigned char* end, QChar*& out) {
    const unsigned b = *in;
    int length = 0;
    char32_t cp = 0;
    char32_t min = 0;
    if (b >= 0xC2 && b <= 0xDF) {
        length = 2, cp = b & 0x1F, min = 0x80;
    } else if (b >= 0xE0 && b <= 0xEF) {
        length = 3, cp = b & 0x0F, min = 0x800;
    } else if (b >= 0xF0 && b <= 0xF4) {
        length = 4, cp = b & 0x07, min = 0x10000;
    } else {
        return 0;
    }
    if (end - in < length)
        return 0;
    for (int i = 1; i < length; ++i) {
        if ((in[i] & 0xC0) != 0x80)
            return 0;
        cp = (cp << 6) | (in[i] & 0x3F);
    }
    if (cp < min || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF))
        return 0;
    if (cp >= 0x10000) {
        *out++ = QChar(QChar::highSurrogate(cp));
        *out++ = QChar(QChar::lowSurrogate(cp));
    } else {
        *out++ = QChar(char16_t(cp));
    }
    return length;
}

/// Whether one of the eight bytes of `word` (all below 0x80) is `byte`.
bool hasByte(std::uint64_t word, unsigned char byte) {
    const std::uint64_t x = word ^ (0x0101010101010101u * byte);
    return ((x - 0x0101010101010101u) & ~x & 0x8080808080808080u) != 0;
}

/// Lists without a byte-order mark: each line in its own encoding. One pass: a line is
/// decoded as UTF-8 until a byte proves it is not, and only then read again from its
/// start as Windows-1252.
ListEncoding decodeLinesApart(QByteArrayView bytes, QString& text) {
    // UTF-8 never takes more code units than bytes, nor does Windows-1252. Storage the
    // string already has is reused.
    text.resize(bytes.size());
    QChar* const begin = text.data();
    QChar* out = begin;
    bool utf8Letters = false; // a line with non-ASCII letters read as UTF-8
    bool cp1252Lines = false;
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = in + bytes.size();
    while (in < end) {
        const unsigned char* const lineStart = in;
        QChar* const lineOut = out;
        bool nonAscii = false;
        bool utf8 = true;
        // CR and LF are single bytes in both encodings and never inside a UTF-8 sequence.
        while (in < end && *in != '\n' && *in != '\r') {
            // Eight plain ASCII bytes without a line end at a time: most of any list.
            while (end - in >= 8) {
                std::uint64_t word;
                std::memcpy(&word, in, 8);
                if ((word & 0x8080808080808080u) || hasByte(word, '\n') || hasByte(word, '\r'))
                    break;
                for (int i = 0; i < 8; ++i)
                    out[i] = QChar(char16_t(in[i]));
                in += 8;
                out += 8;
            }
            if (in == end || *in == '\n' || *in == '\r')
                break;
            if (*in < 0x80) {
                *out++ = QChar(char16_t(*in++));
            } else if (const int taken = decodeUtf8Sequence(in, end, out)) {
                in += taken;
                nonAscii = true;
            } else {
                utf8 = false;
                break;
            }
        }
        if (!utf8) {
            out = lineOut;
            for (in = lineStart; in < end && *in != '\n' && *in != '\r'; ++in)
                *out++ = fromWindows1252(*in);
            cp1252Lines = true;
        } else {
            utf8Letters |= nonAscii;
        }
        for (; in < end && (*in == '\n' || *in == '\r'); ++in)
            *out++ = QChar(char16_t(*in));
    }
    text.truncate(out - begin);
    return !cp1252Lines  ? ListEncoding::Utf8
           : utf8Letters ? ListEncoding::Mixed
                         : ListEncoding::Windows1252;
}

QString decodeWith(QStringConverter::Encoding encoding, QByteArrayView bytes) {
    QStringDecoder decoder(encoding, QStringConverter::Flag::Stateless);
    return decoder(bytes);
}

bool startsWith(QByteArrayView bytes, std::initializer_list<unsigned char> prefix) {
    if (bytes.size() < qsizetype(prefix.size()))
        return false;
    qsizetype i = 0;
    for (const unsigned char p : prefix)
        if (static_cast<unsigned char>(bytes[i++]) != p)
            return false;
    return true;
}

bool isBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

// The scans below look at every character of a list, so they test the one bound first:
// every separator, quote and line end lies at or below ','.
qsizetype findSeparator(const char16_t* text, qsizetype pos, qsizetype size) {
    for (; pos < size; ++pos) {
        const char16_t c = text[pos];
        if (c <= u',' && (c == u',' || c == u'\n' || c == u'\r'))
            break;
    }
    return pos;
}

qsizetype findQuoteOrLineEnd(const char16_t* text, qsizetype pos, qsizetype size) {
    for (; pos < size; ++pos) {
        const char16_t c = text[pos];
        if (c <= u'"' && (c == u'"' || c == u'\n' || c == u'\r'))
            break;
    }
    return pos;
}

// Closes the descriptor on every path out of readListFile.
class FileDescriptor {
public:
    explicit FileDescriptor(int fd)
        : m_fd(fd) {}
    ~FileDescriptor() {
        if (m_fd >= 0)
            ::close(m_fd);
    }
    FileDescriptor(const FileDescriptor&) = delete;
    FileDescriptor& operator=(const FileDescriptor&) = delete;
    int get() const { return m_fd; }

private:
    int m_fd;
};

} // namespace

QString decodeWindows1252(QByteArrayView bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes)
        *out++ = fromWindows1252(static_cast<unsigned char>(c));
    return text;
}

ListEncoding decodeListInto(QByteArrayView bytes, QString& text) {
    if (startsWith(bytes, {0xFF, 0xFE})) {
        text = decodeWith(QStringConverter::Utf16LE, bytes.sliced(2));
        return ListEncoding::Utf16LE;
    }
    if (startsWith(bytes, {0xFE, 0xFF})) {
        text = decodeWith(QStringConverter::Utf16BE, bytes.sliced(2));
        return ListEncoding::Utf16BE;
    }
    if (startsWith(bytes, {0xEF, 0xBB, 0xBF})) {
        // The mark speaks for the whole file, as it always has.
        bytes = bytes.sliced(3);
        QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
        text = utf8(bytes);
        if (!utf8.hasError())
            return ListEncoding::Utf8Bom;
        text = decodeWindows1252(bytes);
        return ListEncoding::Windows1252;
    }
    // Nearly every list is valid UTF-8 throughout, which Qt's vectorised decoder settles
    // in one pass; only a list it rejects is read line by line.
    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    text.resize(bytes.size()); // keeps the storage; UTF-8 never needs more
    const QChar* const end = utf8.appendToBuffer(text.data(), bytes);
    if (!utf8.hasError()) {
        text.truncate(end - text.constData());
        return ListEncoding::Utf8;
    }
    return decodeLinesApart(bytes, text);
}

DecodedList decodeList(QByteArrayView bytes) {
    DecodedList decoded;
    decoded.encoding = decodeListInto(bytes, decoded.text);
    return decoded;
}

namespace {

constexpr EnumName<ListEncoding> EncodingNames[] = {
    {ListEncoding::Utf8, "utf-8", "UTF-8"},
    {ListEncoding::Utf8Bom, "utf-8-bom", "UTF-8 med BOM"},
    {ListEncoding::Utf16LE, "utf-16le", "UTF-16 LE"},
    {ListEncoding::Utf16BE, "utf-16be", "UTF-16 BE"},
    {ListEncoding::Windows1252, "windows-1252", "Windows-1252"},
    {ListEncoding::Mixed, "mixed", "blandad UTF-8 och Windows-1252"},
};

// A list that was read has nothing to say after its name.
constexpr EnumName<ListStatus> StatusNames[] = {
    {ListStatus::Ok, "ok", ""},
    {ListStatus::Missing, "missing", "existerar inte"},
    {ListStatus::Unreadable, "unreadable", "kan inte läsas"},
    {ListStatus::TooLarge, "too-large", "är för stor"},
};

} // namespace

QString encodingKey(ListEncoding encoding) {
    return keyOf(EncodingNames, encoding);
}

QString encodingName(ListEncoding encoding) {
    return nameOf(EncodingNames, encoding);
}

QString listStatusKey(ListStatus status) {
    return keyOf(StatusNames, status);
}

QString problemText(ListStatus status) {
    return nameOf(StatusNames, status);
}

bool ItemReader::next(QString* item) {
    if (m_pendingEmpty) {
        m_pendingEmpty = false;
        m_lastCut = false;
        if (item)
            item->clear();
        return true;
    }
    const qsizetype size = m_text.size();
    if (m_pos >= size)
        return false;

    const char16_t* const text = m_text.utf16();
    qsizetype pos = m_pos;
    while (pos < size && isBlank(text[pos]))
        ++pos;

    qsizetype begin = pos;
    qsizetype end = pos;
    if (pos < size && text[pos] == u'"') {
        begin = ++pos;
        pos = end = findQuoteOrLineEnd(text, pos, size);
        // Anything between the closing quote and the next separator is ignored.
        pos = findSeparator(text, pos, size);
    } else {
        pos = end = findSeparator(text, pos, size);
        while (end > begin && isBlank(text[end - 1]))
            --end;
    }
    m_lastCut = end - begin > MaxItemLength;
    if (item) {
        qsizetype length = end - begin;
        if (m_lastCut) {
            length = MaxItemLength;
            if (m_text[begin + length - 1].isHighSurrogate())
                --length;
        }
        *item = m_text.sliced(begin, length).toString();
    }

    if (pos < size) {
        const char16_t separator = text[pos++];
        if (separator == u',') {
            // A comma always announces one more item, even at the very end.
            if (pos >= size)
                m_pendingEmpty = true;
        } else if (separator == u'\r' && pos < size && text[pos] == u'\n') {
            ++pos;
        }
    }
    m_pos = pos;
    return true;
}

qsizetype countItems(QStringView text) {
    ItemReader reader(text);
    qsizetype count = 0;
    while (reader.next())
        ++count;
    return count;
}

QStringList parseItems(QStringView text) {
    ItemReader reader(text);
    QStringList items;
    QString item;
    while (reader.next(&item))
        items.append(item);
    return items;
}

namespace {

bool sameFile(const struct stat& a, const struct stat& b) {
    return a.st_size == b.st_size && a.st_mtim.tv_sec == b.st_mtim.tv_sec &&
           a.st_mtim.tv_nsec == b.st_mtim.tv_nsec;
}

struct ReadOutcome {
    ListStatus status = ListStatus::Ok;
    bool changed = false; ///< size or modification time moved while reading
};

ReadOutcome readOnce(const QByteArray& native, QByteArray& bytes, int attempt,
                     const ListReadObserver& observer) {
    // O_NONBLOCK: opening a FIFO must not wait for a writer. Only regular files are read.
    FileDescriptor fd(::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        return {(errno == ENOENT || errno == ENOTDIR) ? ListStatus::Missing
                                                      : ListStatus::Unreadable};

    struct stat before {};
    if (::fstat(fd.get(), &before) != 0 || !S_ISREG(before.st_mode))
        return {ListStatus::Unreadable};
    if (before.st_size > MaxListBytes)
        return {ListStatus::TooLarge};

    bytes.resize(0); // keeps the storage
    bytes.reserve(qsizetype(before.st_size));
    std::array<char, 64 * 1024> chunk;
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk.data(), chunk.size());
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return {ListStatus::Unreadable};
        }
        bytes.append(chunk.data(), n);
        // A file that grows while it is read is held to the same limit.
        if (bytes.size() > MaxListBytes)
            return {ListStatus::TooLarge};
        if (observer)
            observer(attempt, bytes.size());
    }
    struct stat after {};
    return {ListStatus::Ok, ::fstat(fd.get(), &after) != 0 || !sameFile(before, after)};
}

} // namespace

ListStatus readListFile(const QString& path, ListBuffers& buffers, ListEncoding* encoding,
                        const ListReadObserver& observer) {
    return readListFileAt(QFile::encodeName(path), buffers, encoding, observer);
}

ListStatus readListFileAt(const QByteArray& native, ListBuffers& buffers, ListEncoding* encoding,
                          const ListReadObserver& observer) {
    for (int attempt = 1; attempt <= 1 + MaxListRereads; ++attempt) {
        const ReadOutcome read = readOnce(native, buffers.bytes, attempt, observer);
        if (read.status != ListStatus::Ok)
            return read.status;
        if (!read.changed)
            break;
    }
    const ListEncoding decoded = decodeListInto(buffers.bytes, buffers.text);
    if (encoding)
        *encoding = decoded;
    return ListStatus::Ok;
}

ListFile readListFile(const QString& path, const ListReadObserver& observer) {
    ListBuffers buffers;
    ListFile list;
    list.status = readListFile(path, buffers, &list.encoding, observer);
    if (list.status == ListStatus::Ok)
        list.text = std::move(buffers.text);
    return list;
}

} // namespace brumlis
