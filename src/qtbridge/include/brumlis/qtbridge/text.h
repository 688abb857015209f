#pragma once
// Where Qt meets the core: text and paths converted at the boundary, in one place. The core
// holds UTF-16 (std::u16string) as QString does, so text is copied, never decoded.
#include <QByteArray>
#include <QFile>
#include <QString>
#include <QStringList>
#include <filesystem>
#include <string>
#include <string_view>
#include <vector>

namespace brumlis {

inline QString qt(std::u16string_view text) {
    return QString::fromUtf16(text.data(), qsizetype(text.size()));
}

inline std::u16string core(QStringView text) {
    return std::u16string(reinterpret_cast<const char16_t*>(text.utf16()),
                          std::size_t(text.size()));
}

inline QStringList qt(const std::vector<std::u16string>& texts) {
    QStringList list;
    list.reserve(qsizetype(texts.size()));
    for (const std::u16string& text : texts)
        list << qt(text);
    return list;
}

inline std::vector<std::u16string> core(const QStringList& texts) {
    std::vector<std::u16string> list;
    list.reserve(std::size_t(texts.size()));
    for (const QString& text : texts)
        list.push_back(core(text));
    return list;
}

/// A path as Qt names files (QFile::encodeName's bytes, so a name that is not UTF-8 stays
/// as it is on disk).
inline std::filesystem::path corePath(const QString& path) {
    return std::filesystem::path(QFile::encodeName(path).toStdString());
}

inline QString qtPath(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

} // namespace brumlis
