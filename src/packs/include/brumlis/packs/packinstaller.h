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

/// How a pack is installed.
struct InstallOptions {
    bool replace = false; ///< a pack installed under the same name is replaced
    bool anyway = false;  ///< installed even when its voice cannot say every word
    UnpackLimits limits;
};

/// What installing a pack gave.
struct PackInstall {
    QString error;                   ///< why nothing was installed, in Swedish; empty when it was
    PackManifest manifest;           ///< the pack's, its counts those of the files it holds
    QString folder;                  ///< where it is installed
    QStringList warnings;            ///< files of the pack that were skipped
    QStringList problems;            ///< what check finds wrong with the voice, every error
    bool replaced = false;           ///< a pack of the same name was there and is replaced
    bool refusedAsInstalled = false; ///< not installed: that name is taken, and no replace
    bool refusedAsBroken = false;    ///< not installed: `problems` keep words from being said
    bool missing = false;            ///< not installed: there is no such pack file

    bool ok() const { return error.isEmpty(); }
};

/// Installs the pack at `packFile` as PackPlaces::folderOf(its name), with a menu entry that
/// starts Brumlis with it. The pack is unpacked into a temporary folder beside its place and
/// looked at there as `brumlis-cli check` looks at a folder: a voice with an error (a list
/// missing, a word that cannot be said) is refused unless `options.anyway`. Its manifest gets
/// the counts of what it really holds. It then takes its place by one rename: an install
/// stopped at any moment leaves the old pack or the new one, whole, never a part of one. A
/// pack already installed under the same name is replaced only when `options.replace`.
PackInstall installPack(const QString& packFile, const PackPlaces& places,
                        const InstallOptions& options = {});

/// An installed pack: its manifest and folder.
struct InstalledPack {
    PackManifest manifest;
    QString folder;
};

/// The packs installed in `places`, by name.
std::vector<InstalledPack> installedPacks(const PackPlaces& places);

/// Removes the pack called `name` and its menu entry. Empty on success, else why not.
QString uninstallPack(const QString& name, const PackPlaces& places);

/// The menu entry that starts Brumlis with `folder` as its data folder ("Brumlis – <name>"),
/// telling what the voice holds.
QByteArray menuEntry(const PackManifest& manifest, const QString& folder);

/// "196 ord, 204 inspelningar": what a pack holds, for people.
QString packCounts(const PackManifest& manifest);

} // namespace brumlis
