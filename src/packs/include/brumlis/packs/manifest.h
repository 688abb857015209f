#pragma once

#include <QByteArray>
#include <QDate>
#include <QString>
#include <optional>

namespace brumlis {

/// The suffix of a pack file: a voice and its vocabulary as one zip archive.
inline constexpr char PackSuffix[] = ".brumlis";
/// The manifest at the root of a pack, kept in the folder a pack is installed to.
inline constexpr char ManifestFileName[] = "brumlis.json";
/// The one layout of pack this program writes and reads.
inline constexpr int PackFormat = 1;
/// A name longer than this is refused: it becomes a folder's name and a menu entry's.
inline constexpr qsizetype MaxPackNameLength = 100;

/// What a pack says about itself: brumlis.json.
struct PackManifest {
    int format = PackFormat;
    QString name;
    QString language = QStringLiteral("sv");
    QString speaker;
    QString licence;
    QDate created;
    // What the pack holds. A manifest need not say: 0 when it does not, and an installed
    // pack's manifest holds what the installer counted in its files.
    qint64 words = 0;       ///< words in the lists, fixed phrases not counted
    qint64 recordings = 0;  ///< files in sound/
    qint64 madeByVoice = 0; ///< of the recordings, how many `brumlis-cli voice` made

    /// The manifest as JSON, its keys sorted, so that the same manifest gives the same bytes.
    QByteArray toJson() const;
    bool operator==(const PackManifest&) const = default;
};

/// The manifest in `json`; nothing when it is not one, and then why in `problem` (Swedish).
std::optional<PackManifest> parseManifest(const QByteArray& json, QString* problem);

/// Why `name` cannot name a pack, its folder and its menu entry ("innehåller /"); empty
/// when it can.
QString packNameProblem(const QString& name);

/// Whether `path` ends in .brumlis (in any case).
bool isPackFileName(const QString& path);

} // namespace brumlis
