#pragma once

#include "brumlis/packs/manifest.h"
#include "brumlis/packs/packreader.h"

#include <QDate>
#include <QString>
#include <QStringList>
#include <vector>

namespace brumlis {

/// One file of a pack: its name in the archive ("sound/Kalle.wav") and the file it is read
/// from.
struct PackEntry {
    QString name;
    QString source;
};

/// What of a data folder goes into a pack.
struct PackContents {
    std::vector<PackEntry> entries; ///< sorted by name
    QDate newest;                   ///< the day (UTC) the newest of them was last changed
    QString problem;                ///< why the folder cannot be packed; empty when it can
    QStringList skipped;            ///< files left out, in Swedish
};

/// The files of `dataDir` a pack holds: text/*.txt, sound/*.wav and mallar.txt when the
/// folder has one; nothing else (the studio's raw takes in tagningar/ stay at home). A file
/// that a pack could not be unpacked with under `limits` is a problem.
PackContents packContents(const QString& dataDir, const UnpackLimits& limits = {});

/// Writes `entries` and `manifest` as a pack to `packFile`: entries sorted by name, every
/// one with the same fixed time and mode, so the same files give the same bytes. libzip
/// writes it to a temporary file beside `packFile` and renames that, so an interrupted
/// run never leaves half a pack under the name. Empty on success, else why not (Swedish).
QString writePack(const QString& packFile, const PackManifest& manifest,
                  const std::vector<PackEntry>& entries);

} // namespace brumlis
