#include "wordlist.h"

#include <QFile>
#include <QStringDecoder>
#include <array>
#include <cerrno>
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

QString decodeWindows1252(QByteArrayView bytes) {
    QString text(bytes.size(), Qt::Uninitialized);
    QChar* out = text.data();
    for (const char c : bytes) {
        const auto b = static_cast<unsigned char>(c);
        *out++ = (b >= 0x80 && b < 0xA0) ? QChar(kCp1252High[b - 0x80]) : QChar(char16_t(b));
    }
    return text;
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

bool isBlank(QChar c) {
    return c == u' ' || c == u'\t';
}
bool isLineEnd(QChar c) {
    return c == u'\n' || c == u'\r';
}
bool isSeparator(QChar c) {
    return c == u',' || isLineEnd(c);
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

DecodedList decodeList(QByteArrayView bytes) {
    if (startsWith(bytes, {0xFF, 0xFE}))
        return {decodeWith(QStringConverter::Utf16LE, bytes.sliced(2)), ListEncoding::Utf16LE};
    if (startsWith(bytes, {0xFE, 0xFF}))
        return {decodeWith(QStringConverter::Utf16BE, bytes.sliced(2)), ListEncoding::Utf16BE};
    const bool bom = startsWith(bytes, {0xEF, 0xBB, 0xBF});
    if (bom)
        bytes = bytes.sliced(3);

    QStringDecoder utf8(QStringConverter::Utf8, QStringConverter::Flag::Stateless);
    QString text = utf8(bytes);
    if (!utf8.hasError())
        return {std::move(text), bom ? ListEncoding::Utf8Bom : ListEncoding::Utf8};
    return {decodeWindows1252(bytes), ListEncoding::Windows1252};
}

QString problemText(ListStatus status) {
    switch (status) {
    case ListStatus::Ok:
        break;
    case ListStatus::Missing:
        return QStringLiteral("existerar inte");
    case ListStatus::Unreadable:
        return QStringLiteral("kan inte läsas");
    case ListStatus::TooLarge:
        return QStringLiteral("är för stor");
    }
    return {};
}

bool ItemReader::next(QString* item) {
    if (m_pendingEmpty) {
        m_pendingEmpty = false;
        if (item)
            item->clear();
        return true;
    }
    const qsizetype size = m_text.size();
    if (m_pos >= size)
        return false;

    qsizetype pos = m_pos;
    while (pos < size && isBlank(m_text[pos]))
        ++pos;

    qsizetype begin = pos;
    qsizetype end = pos;
    if (pos < size && m_text[pos] == u'"') {
        begin = ++pos;
        while (pos < size && m_text[pos] != u'"' && !isLineEnd(m_text[pos]))
            ++pos;
        end = pos;
        // Anything between the closing quote and the next separator is ignored.
        while (pos < size && !isSeparator(m_text[pos]))
            ++pos;
    } else {
        while (pos < size && !isSeparator(m_text[pos]))
            ++pos;
        end = pos;
        while (end > begin && isBlank(m_text[end - 1]))
            --end;
    }
    if (item)
        *item = m_text.sliced(begin, end - begin).toString();

    if (pos < size) {
        const QChar separator = m_text[pos++];
        if (separator == u',') {
            // A comma always announces one more item, even at the very end.
            if (pos >= size)
                m_pendingEmpty = true;
        } else if (separator == u'\r' && pos < size && m_text[pos] == u'\n') {
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

ListFile readListFile(const QString& path) {
    const QByteArray native = QFile::encodeName(path);
    // O_NONBLOCK: opening a FIFO must not wait for a writer. Only regular files are read.
    FileDescriptor fd(::open(native.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY));
    if (fd.get() < 0)
        return {(errno == ENOENT || errno == ENOTDIR) ? ListStatus::Missing
                                                      : ListStatus::Unreadable,
                {}};

    struct stat info {};
    if (::fstat(fd.get(), &info) != 0 || !S_ISREG(info.st_mode))
        return {ListStatus::Unreadable, {}};
    if (info.st_size > MaxListBytes)
        return {ListStatus::TooLarge, {}};

    QByteArray bytes;
    bytes.reserve(qsizetype(info.st_size));
    std::array<char, 64 * 1024> chunk;
    for (;;) {
        const ssize_t n = ::read(fd.get(), chunk.data(), chunk.size());
        if (n == 0)
            break;
        if (n < 0) {
            if (errno == EINTR)
                continue;
            return {ListStatus::Unreadable, {}};
        }
        bytes.append(chunk.data(), n);
        // A file that grows while it is read is held to the same limit.
        if (bytes.size() > MaxListBytes)
            return {ListStatus::TooLarge, {}};
    }
    DecodedList decoded = decodeList(bytes);
    return {ListStatus::Ok, std::move(decoded.text), decoded.encoding};
}

} // namespace brumlis
