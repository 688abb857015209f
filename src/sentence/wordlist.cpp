#include "brumlis/sentence/wordlist.h"

#include "brumlis/platform/files.h"
#include "brumlis/sentence/enumnames.h"
#include "brumlis/text/text.h"

#include <array>
#include <cstdint>
#include <cstring>

namespace brumlis {

namespace {

/// Whether one of the eight bytes of `word` (all below 0x80) is `byte`.
bool hasByte(std::uint64_t word, unsigned char byte) {
    const std::uint64_t x = word ^ (0x0101010101010101u * byte);
    return ((x - 0x0101010101010101u) & ~x & 0x8080808080808080u) != 0;
}

/// Lists without a byte-order mark: each line in its own encoding. One pass: a line is
/// decoded as UTF-8 until a byte proves it is not, and only then read again from its
/// start as Windows-1252.
ListEncoding decodeLinesApart(std::string_view bytes, std::u16string& text) {
    // UTF-8 never takes more code units than bytes, nor does Windows-1252. Storage the
    // string already has is reused.
    text.resize(bytes.size());
    char16_t* const begin = text.data();
    char16_t* out = begin;
    bool utf8Letters = false; // a line with non-ASCII letters read as UTF-8
    bool cp1252Lines = false;
    const auto* in = reinterpret_cast<const unsigned char*>(bytes.data());
    const auto* const end = in + bytes.size();
    while (in < end) {
        const unsigned char* const lineStart = in;
        char16_t* const lineOut = out;
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
                    out[i] = char16_t(in[i]);
                in += 8;
                out += 8;
            }
            if (in == end || *in == '\n' || *in == '\r')
                break;
            if (*in < 0x80) {
                *out++ = char16_t(*in++);
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
            *out++ = char16_t(*in);
    }
    text.resize(std::size_t(out - begin));
    return !cp1252Lines  ? ListEncoding::Utf8
           : utf8Letters ? ListEncoding::Mixed
                         : ListEncoding::Windows1252;
}

bool startsWith(std::string_view bytes, std::initializer_list<unsigned char> prefix) {
    if (bytes.size() < prefix.size())
        return false;
    std::size_t i = 0;
    for (const unsigned char p : prefix)
        if (static_cast<unsigned char>(bytes[i++]) != p)
            return false;
    return true;
}

// UTF-16 in the byte order given; an odd last byte becomes U+FFFD. A second mark right
// after the first is dropped too, as Qt's decoder, which read these lists before, did.
std::u16string decodeUtf16(std::string_view bytes, bool bigEndian) {
    if (startsWith(bytes, bigEndian ? std::initializer_list<unsigned char>{0xFE, 0xFF}
                                    : std::initializer_list<unsigned char>{0xFF, 0xFE}))
        bytes.remove_prefix(2);
    std::u16string text;
    text.reserve(bytes.size() / 2 + 1);
    for (std::size_t i = 0; i + 1 < bytes.size(); i += 2) {
        const auto a = static_cast<unsigned char>(bytes[i]);
        const auto b = static_cast<unsigned char>(bytes[i + 1]);
        text += bigEndian ? char16_t(a << 8 | b) : char16_t(b << 8 | a);
    }
    if (bytes.size() % 2)
        text += char16_t(0xFFFD);
    return text;
}

bool isItemBlank(char16_t c) {
    return c == u' ' || c == u'\t';
}

// The scans below look at every character of a list, so they test the one bound first:
// every separator, quote and line end lies at or below ','.
std::size_t findSeparator(const char16_t* text, std::size_t pos, std::size_t size) {
    for (; pos < size; ++pos) {
        const char16_t c = text[pos];
        if (c <= u',' && (c == u',' || c == u'\n' || c == u'\r'))
            break;
    }
    return pos;
}

std::size_t findQuoteOrLineEnd(const char16_t* text, std::size_t pos, std::size_t size) {
    for (; pos < size; ++pos) {
        const char16_t c = text[pos];
        if (c <= u'"' && (c == u'"' || c == u'\n' || c == u'\r'))
            break;
    }
    return pos;
}

ListEncoding decodeListInto(std::string_view bytes, std::u16string& text) {
    if (startsWith(bytes, {0xFF, 0xFE})) {
        text = decodeUtf16(bytes.substr(2), false);
        return ListEncoding::Utf16LE;
    }
    if (startsWith(bytes, {0xFE, 0xFF})) {
        text = decodeUtf16(bytes.substr(2), true);
        return ListEncoding::Utf16BE;
    }
    if (startsWith(bytes, {0xEF, 0xBB, 0xBF})) {
        // The mark speaks for the whole file, as it always has.
        bytes.remove_prefix(3);
        if (startsWith(bytes, {0xEF, 0xBB, 0xBF}))
            bytes.remove_prefix(3);
        if (isUtf8(bytes)) {
            text = fromUtf8(bytes);
            return ListEncoding::Utf8Bom;
        }
        text = decodeWindows1252(bytes);
        return ListEncoding::Windows1252;
    }
    // Nearly every list is valid UTF-8 throughout; a line that is not is read as
    // Windows-1252 on its own.
    return decodeLinesApart(bytes, text);
}

struct ReadOutcome {
    ListStatus status = ListStatus::Ok;
    bool changed = false; ///< size or modification time moved while reading
};

ReadOutcome readOnce(const std::filesystem::path& path, std::string& bytes, int attempt,
                     const ListReadObserver& observer) {
    platform::InputFile file;
    if (!file.open(path))
        return {file.problem() == platform::InputFile::Problem::Missing ? ListStatus::Missing
                                                                        : ListStatus::Unreadable};
    const auto progress = [&](std::int64_t read) {
        if (observer)
            observer(attempt, read);
    };
    switch (file.readAll(bytes, MaxListBytes, progress)) {
    case platform::InputFile::Whole::Read:
        break;
    case platform::InputFile::Whole::TooLarge:
        return {ListStatus::TooLarge};
    case platform::InputFile::Whole::Failed:
        return {ListStatus::Unreadable};
    }
    return {ListStatus::Ok, file.currentStamp() != file.stamp()};
}

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

DecodedList decodeList(std::string_view bytes) {
    DecodedList decoded;
    decoded.encoding = decodeListInto(bytes, decoded.text);
    return decoded;
}

std::u16string encodingKey(ListEncoding encoding) {
    return keyOf(EncodingNames, encoding);
}

std::u16string encodingName(ListEncoding encoding) {
    return nameOf(EncodingNames, encoding);
}

std::u16string listStatusKey(ListStatus status) {
    return keyOf(StatusNames, status);
}

std::u16string problemText(ListStatus status) {
    return nameOf(StatusNames, status);
}

bool ItemReader::next(std::u16string* item) {
    if (m_pendingEmpty) {
        m_pendingEmpty = false;
        m_lastCut = false;
        if (item)
            item->clear();
        return true;
    }
    const std::size_t size = m_text.size();
    if (m_pos >= size)
        return false;

    const char16_t* const text = m_text.data();
    std::size_t pos = m_pos;
    while (pos < size && isItemBlank(text[pos]))
        ++pos;

    std::size_t begin = pos;
    std::size_t end = pos;
    if (pos < size && text[pos] == u'"') {
        begin = ++pos;
        pos = end = findQuoteOrLineEnd(text, pos, size);
        // Anything between the closing quote and the next separator is ignored.
        pos = findSeparator(text, pos, size);
    } else {
        pos = end = findSeparator(text, pos, size);
        while (end > begin && isItemBlank(text[end - 1]))
            --end;
    }
    m_lastCut = end - begin > MaxItemLength;
    if (item) {
        std::size_t length = end - begin;
        if (m_lastCut) {
            length = MaxItemLength;
            if (isHighSurrogate(text[begin + length - 1]))
                --length;
        }
        item->assign(text + begin, length);
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

std::size_t countItems(std::u16string_view text) {
    ItemReader reader(text);
    std::size_t count = 0;
    while (reader.next())
        ++count;
    return count;
}

std::vector<std::u16string> parseItems(std::u16string_view text) {
    ItemReader reader(text);
    std::vector<std::u16string> items;
    std::u16string item;
    while (reader.next(&item))
        items.push_back(item);
    return items;
}

ListStatus readListFile(const std::filesystem::path& path, ListBuffers& buffers,
                        ListEncoding* encoding, const ListReadObserver& observer) {
    for (int attempt = 1; attempt <= 1 + MaxListRereads; ++attempt) {
        const ReadOutcome read = readOnce(path, buffers.bytes, attempt, observer);
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

ListFile readListFile(const std::filesystem::path& path, const ListReadObserver& observer) {
    ListBuffers buffers;
    ListFile list;
    list.status = readListFile(path, buffers, &list.encoding, observer);
    if (list.status == ListStatus::Ok)
        list.text = std::move(buffers.text);
    return list;
}

} // namespace brumlis
