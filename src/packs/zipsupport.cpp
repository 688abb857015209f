#include "zipsupport.h"

namespace brumlis {

QString zipProblem(int code) {
    switch (code) {
    case ZIP_ER_NOZIP:
        return QStringLiteral("ingen zip-fil");
    case ZIP_ER_INCONS:
        return QStringLiteral("innehållsförteckningen stämmer inte med innehållet");
    case ZIP_ER_CRC:
        return QStringLiteral("kontrollsumman stämmer inte");
    case ZIP_ER_EOF:
        return QStringLiteral("filen tar slut för tidigt");
    case ZIP_ER_READ:
    case ZIP_ER_SEEK:
        return QStringLiteral("läsfel");
    case ZIP_ER_ZLIB:
    case ZIP_ER_COMPRESSED_DATA:
        return QStringLiteral("trasiga komprimerade data");
    case ZIP_ER_COMPNOTSUPP:
        return QStringLiteral("okänd komprimering");
    case ZIP_ER_ENCRNOTSUPP:
    case ZIP_ER_NOPASSWD:
    case ZIP_ER_WRONGPASSWD:
        return QStringLiteral("krypterad");
    case ZIP_ER_MEMORY:
        return QStringLiteral("minnet räcker inte");
    case ZIP_ER_OPEN:
        return QStringLiteral("kan inte öppnas");
    case ZIP_ER_WRITE:
    case ZIP_ER_TMPOPEN:
    case ZIP_ER_RENAME:
    case ZIP_ER_CLOSE:
        return QStringLiteral("kan inte skrivas");
    default:
        return QStringLiteral("fel %1 i zip-filen").arg(code);
    }
}

QString grouped(qint64 n) {
    QString digits = QString::number(n < 0 ? -n : n);
    for (qsizetype at = digits.size() - 3; at > 0; at -= 3)
        digits.insert(at, u' ');
    return n < 0 ? u'-' + digits : digits;
}

QString sizeText(qint64 bytes) {
    constexpr qint64 KiB = 1024;
    if (bytes > 0 && bytes % (KiB * KiB * KiB) == 0)
        return grouped(bytes / (KiB * KiB * KiB)) + QStringLiteral(" GiB");
    if (bytes > 0 && bytes % (KiB * KiB) == 0)
        return grouped(bytes / (KiB * KiB)) + QStringLiteral(" MiB");
    if (bytes > 0 && bytes % KiB == 0)
        return grouped(bytes / KiB) + QStringLiteral(" KiB");
    return grouped(bytes) + QStringLiteral(" byte");
}

} // namespace brumlis
