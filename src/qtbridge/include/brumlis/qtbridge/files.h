#pragma once
// The platform's file seam for Qt code: paths and errors as QString.
#include "brumlis/platform/files.h"
#include "brumlis/qtbridge/text.h"

#include <QByteArrayView>
#include <QString>

namespace brumlis {

/// platform::writeFileAtomically for a Qt path and bytes.
inline bool writeFileAtomically(const QString& path, QByteArrayView bytes,
                                QString* error = nullptr) {
    std::u16string why;
    const bool written = platform::writeFileAtomically(
        corePath(path), std::string_view(bytes.data(), std::size_t(bytes.size())), &why);
    if (!written && error)
        *error = qt(why);
    return written;
}

/// The same for a path in the file system's own bytes.
inline std::filesystem::path corePath(const QByteArray& nativeBytes) {
    return std::filesystem::path(nativeBytes.toStdString());
}

} // namespace brumlis
