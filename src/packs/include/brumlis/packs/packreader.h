#pragma once

#include "brumlis/packs/manifest.h"

#include <QString>
#include <QStringList>

namespace brumlis {

/// How much a pack may hold once unpacked. The bytes are counted as they are unpacked and
/// written, never taken from the archive's headers, which a hostile archive can forge.
struct UnpackLimits {
    qint64 fileBytes = qint64(64) << 20;     ///< one file: 64 MiB
    qint64 totalBytes = qint64(1) << 30;     ///< all files together: 1 GiB
    qint64 entries = 100'000;                ///< entries in the archive, folders included
    qint64 manifestBytes = qint64(64) << 10; ///< brumlis.json: 64 KiB
};

/// What reading a pack gave.
struct PackReading {
    QString error; ///< why the whole pack is refused, in Swedish; empty when it is not
    PackManifest manifest;
    QStringList warnings;    ///< files that were skipped, in Swedish
    qint64 bytesWritten = 0; ///< what was unpacked, in bytes
    bool missing = false;    ///< there is no file `packFile`: nothing to refuse

    bool ok() const { return error.isEmpty(); }
};

/// Reads the pack at `packFile` and unpacks it into `emptyFolder`, which must exist and be
/// empty: brumlis.json, mallar.txt, text/*.txt and sound/*.wav; any other regular file is
/// skipped with a warning. The whole pack is refused (and then what was written to
/// `emptyFolder` is left for the caller to remove with it) when an entry's path is
/// absolute or climbs out with .., an entry is not a regular file or folder (a symbolic
/// link, a device), there are more entries or bytes than `limits` allow, the archive or
/// an entry is truncated or corrupt, or the manifest is missing or malformed. Nothing is
/// ever written outside `emptyFolder`.
PackReading unpackPack(const QString& packFile, const QString& emptyFolder,
                       const UnpackLimits& limits = {});

/// The same checks of every entry, and the manifest read, without unpacking the rest:
/// what a pack says it is, before anyone is asked whether to install it.
PackReading readPack(const QString& packFile, const UnpackLimits& limits = {});

} // namespace brumlis
