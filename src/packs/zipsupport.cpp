#include "zipsupport.h"

#include <dlfcn.h>
#include <type_traits>

namespace brumlis {

namespace {

constexpr char LibZipName[] = "libzip.so.4";

struct Loaded {
    LibZip functions{};
    bool ok = false;
    QString why;
};

const Loaded& loaded() {
    static const Loaded library = [] {
        Loaded l;
        void* handle = ::dlopen(LibZipName, RTLD_NOW | RTLD_LOCAL);
        if (!handle) {
            l.why = QStringLiteral("%1 kan inte läsas in: %2")
                        .arg(QLatin1String(LibZipName), QString::fromLocal8Bit(::dlerror()));
            return l;
        }
        const char* missing = nullptr;
        auto resolve = [&](auto& function, const char* name) {
            function = reinterpret_cast<std::remove_reference_t<decltype(function)>>(
                ::dlsym(handle, name));
            if (!function)
                missing = name;
            return function != nullptr;
        };
        LibZip& f = l.functions;
        l.ok = resolve(f.discard, "zip_discard") && resolve(f.fclose, "zip_fclose") &&
               resolve(f.error_code_zip, "zip_error_code_zip") && resolve(f.fdopen, "zip_fdopen") &&
               resolve(f.get_num_entries, "zip_get_num_entries") &&
               resolve(f.get_name, "zip_get_name") && resolve(f.get_error, "zip_get_error") &&
               resolve(f.file_get_external_attributes, "zip_file_get_external_attributes") &&
               resolve(f.stat_init, "zip_stat_init") && resolve(f.stat_index, "zip_stat_index") &&
               resolve(f.compression_method_supported, "zip_compression_method_supported") &&
               resolve(f.fopen_index, "zip_fopen_index") && resolve(f.fread, "zip_fread") &&
               resolve(f.file_get_error, "zip_file_get_error") && resolve(f.open, "zip_open") &&
               resolve(f.source_buffer, "zip_source_buffer") &&
               resolve(f.source_file, "zip_source_file") && resolve(f.file_add, "zip_file_add") &&
               resolve(f.source_free, "zip_source_free") &&
               resolve(f.file_set_dostime, "zip_file_set_dostime") &&
               resolve(f.file_set_external_attributes, "zip_file_set_external_attributes") &&
               resolve(f.set_file_compression, "zip_set_file_compression") &&
               resolve(f.close, "zip_close");
        if (!l.ok)
            l.why = QStringLiteral("%1 saknar %2")
                        .arg(QLatin1String(LibZipName), QLatin1String(missing));
        return l;
    }();
    return library;
}

} // namespace

bool loadLibZip(QString* why) {
    const Loaded& library = loaded();
    if (!library.ok && why)
        *why = library.why;
    return library.ok;
}

const LibZip& libzip() {
    return loaded().functions;
}

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
