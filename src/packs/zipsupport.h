#pragma once
// What the pack reader and writer share of libzip: the library, loaded when a pack is first
// read or written; owners that close what they hold; libzip's errors and sizes in Swedish.
#include <QString>
#include <memory>
#include <zip.h>

namespace brumlis {

/// The libzip functions the packs use. The library (and the cryptography library it brings)
/// is opened the first time a pack is read or written, not when a program starts: the
/// window, which most people never hand a pack, starts without it.
struct LibZip {
    decltype(&::zip_discard) discard;
    decltype(&::zip_fclose) fclose;
    decltype(&::zip_error_code_zip) error_code_zip;
    decltype(&::zip_fdopen) fdopen;
    decltype(&::zip_get_num_entries) get_num_entries;
    decltype(&::zip_get_name) get_name;
    decltype(&::zip_get_error) get_error;
    decltype(&::zip_file_get_external_attributes) file_get_external_attributes;
    decltype(&::zip_stat_init) stat_init;
    decltype(&::zip_stat_index) stat_index;
    decltype(&::zip_compression_method_supported) compression_method_supported;
    decltype(&::zip_fopen_index) fopen_index;
    decltype(&::zip_fread) fread;
    decltype(&::zip_file_get_error) file_get_error;
    decltype(&::zip_open) open;
    decltype(&::zip_source_buffer) source_buffer;
    decltype(&::zip_source_file) source_file;
    decltype(&::zip_file_add) file_add;
    decltype(&::zip_source_free) source_free;
    decltype(&::zip_file_set_dostime) file_set_dostime;
    decltype(&::zip_file_set_external_attributes) file_set_external_attributes;
    decltype(&::zip_set_file_compression) set_file_compression;
    decltype(&::zip_close) close;
};

/// Loads libzip once; false, with `why` told in Swedish, when it cannot be loaded.
bool loadLibZip(QString* why);
/// The functions, once loadLibZip() has said true.
const LibZip& libzip();

struct ZipDiscard {
    void operator()(zip_t* zip) const { libzip().discard(zip); }
};
struct ZipFileClose {
    void operator()(zip_file_t* file) const { libzip().fclose(file); }
};
using ZipArchive = std::unique_ptr<zip_t, ZipDiscard>;
using ZipEntryFile = std::unique_ptr<zip_file_t, ZipFileClose>;

/// What went wrong, for people: libzip's own texts are English.
QString zipProblem(int code);
inline QString zipProblem(zip_error_t* error) {
    return zipProblem(libzip().error_code_zip(error));
}

/// "64 MiB", "1 GiB", "1 000 byte": a size as the limits are set.
QString sizeText(qint64 bytes);
/// "100 000": digits in groups of three, as Swedes write a large number.
QString grouped(qint64 n);

} // namespace brumlis
