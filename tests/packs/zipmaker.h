#pragma once
// Zip archives made by the tests themselves with libzip, hostile ones included: entries with
// any name and any Unix mode, and afterwards headers altered as a forger would.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <stdexcept>
#include <sys/stat.h>
#include <vector>
#include <zip.h>

namespace brumlis::test {

struct ZipItem {
    QByteArray name;
    QByteArray data;
    zip_uint32_t mode = S_IFREG | 0644; ///< the Unix mode kept in the external attributes
    bool stored = false;                ///< not compressed
};

/// Writes `items`, in order, as a zip archive at `path`.
/// The bytes of the file at `path`; none when it cannot be read.
inline QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

inline void writeZip(const QString& path, const std::vector<ZipItem>& items) {
    int code = 0;
    zip_t* zip = zip_open(QFile::encodeName(path).constData(), ZIP_CREATE | ZIP_TRUNCATE, &code);
    if (!zip)
        throw std::runtime_error("zip_open failed");
    for (const ZipItem& item : items) {
        zip_source_t* source =
            zip_source_buffer(zip, item.data.constData(), zip_uint64_t(item.data.size()), 0);
        const zip_int64_t index = zip_file_add(zip, item.name.constData(), source, ZIP_FL_ENC_RAW);
        if (index < 0)
            throw std::runtime_error("zip_file_add failed: " + item.name.toStdString());
        zip_file_set_external_attributes(zip, zip_uint64_t(index), 0, ZIP_OPSYS_UNIX,
                                         item.mode << 16);
        zip_set_file_compression(zip, zip_uint64_t(index),
                                 item.stored ? ZIP_CM_STORE : ZIP_CM_DEFLATE, 0);
    }
    if (zip_close(zip) != 0)
        throw std::runtime_error("zip_close failed");
}

/// A manifest as the program writes it, with `name`.
inline QByteArray manifestJson(const QByteArray& name) {
    return R"({"format":1,"name":")" + name +
           R"(","language":"sv","speaker":"","licence":"","created":"2026-01-02",)"
           R"("words":1,"recordings":1,"madeByVoice":0})";
}

/// The offsets of the local header (signature PK\3\4) and of the central directory's
/// record (PK\1\2) of the entry called `name`.
struct HeaderOffsets {
    qsizetype local = -1;
    qsizetype central = -1;
};

inline HeaderOffsets headersOf(const QByteArray& zip, const QByteArray& name) {
    HeaderOffsets at;
    for (qsizetype i = 0; i + 46 <= zip.size(); ++i) {
        if (zip.mid(i, 4) == QByteArray("PK\3\4", 4) && zip.mid(i + 30, name.size()) == name)
            at.local = i;
        if (zip.mid(i, 4) == QByteArray("PK\1\2", 4) && zip.mid(i + 46, name.size()) == name)
            at.central = i;
    }
    return at;
}

inline void putLe32(QByteArray& bytes, qsizetype at, quint32 value) {
    for (int i = 0; i < 4; ++i)
        bytes[at + i] = char((value >> (8 * i)) & 0xFF);
}

/// Makes both headers of `name` claim `size` bytes unpacked, whatever the data holds.
inline void forgeUnpackedSize(QByteArray& zip, const QByteArray& name, quint32 size) {
    const HeaderOffsets at = headersOf(zip, name);
    if (at.local < 0 || at.central < 0)
        throw std::runtime_error("no such entry: " + name.toStdString());
    putLe32(zip, at.local + 22, size);
    putLe32(zip, at.central + 24, size);
}

/// The offset of the first byte of `name`'s data.
inline qsizetype dataOf(const QByteArray& zip, const QByteArray& name) {
    const qsizetype local = headersOf(zip, name).local;
    const auto le16 = [&](qsizetype at) {
        return qsizetype(quint8(zip[at])) | qsizetype(quint8(zip[at + 1])) << 8;
    };
    return local + 30 + le16(local + 26) + le16(local + 28);
}

} // namespace brumlis::test
