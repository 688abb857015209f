#pragma once
// What the pack reader and writer share of libzip: owners that close what they hold, and
// libzip's errors and sizes told in Swedish.
#include <QString>
#include <memory>
#include <zip.h>

namespace brumlis {

struct ZipDiscard {
    void operator()(zip_t* zip) const { zip_discard(zip); }
};
struct ZipFileClose {
    void operator()(zip_file_t* file) const { zip_fclose(file); }
};
using ZipArchive = std::unique_ptr<zip_t, ZipDiscard>;
using ZipEntryFile = std::unique_ptr<zip_file_t, ZipFileClose>;

/// What went wrong, for people: libzip's own texts are English.
QString zipProblem(int code);
inline QString zipProblem(zip_error_t* error) {
    return zipProblem(zip_error_code_zip(error));
}

/// "64 MiB", "1 GiB", "1 000 byte": a size as the limits are set.
QString sizeText(qint64 bytes);
/// "100 000": digits in groups of three, as Swedes write a large number.
QString grouped(qint64 n);

} // namespace brumlis
