#pragma once

#include "brumlis/packs/manifest.h"
#include "brumlis/packs/packreader.h"

#include <QString>
#include <QStringList>
#include <vector>

namespace brumlis {

/// Where packs are installed, and where their menu entries go.
struct PackPlaces {
    QString packs;        ///< a folder per pack: $XDG_DATA_HOME/brumlis/packs
    QString applications; ///< menu entries: $XDG_DATA_HOME/applications

    /// The user's: under $XDG_DATA_HOME, ~/.local/share when it is not set.
    static PackPlaces forUser();
    /// The folder a pack of this name is installed to.
    QString folderOf(const QString& name) const;
    /// The menu entry of the pack of this name.
    QString menuEntryOf(const QString& name) const;
};

/// What installing a pack gave.
struct PackInstall {
    QString error; ///< why nothing was installed, in Swedish; empty when it was
    PackManifest manifest;
    QString folder;                  ///< where it is installed
    QStringList warnings;            ///< files of the pack that were skipped
    bool replaced = false;           ///< a pack of the same name was there and is replaced
    bool refusedAsInstalled = false; ///< not installed: that name is taken, and no replace

    bool ok() const { return error.isEmpty(); }
};

/// Installs the pack at `packFile` as PackPlaces::folderOf(its name), with a menu entry that
/// starts Brumlis with it. The pack is unpacked into a temporary folder beside its place and
/// takes that place by one rename: an install stopped at any moment leaves the old pack or
/// the new one, whole, never a part of one. A pack already installed under the same name is
/// replaced only when `replace`.
PackInstall installPack(const QString& packFile, const PackPlaces& places, bool replace,
                        const UnpackLimits& limits = {});

/// An installed pack: its manifest and folder.
struct InstalledPack {
    PackManifest manifest;
    QString folder;
};

/// The packs installed in `places`, by name.
std::vector<InstalledPack> installedPacks(const PackPlaces& places);

/// Removes the pack called `name` and its menu entry. Empty on success, else why not.
QString uninstallPack(const QString& name, const PackPlaces& places);

/// The menu entry that starts Brumlis with `folder` as its data folder ("Brumlis – <name>").
QByteArray menuEntry(const QString& name, const QString& folder);

} // namespace brumlis
