#pragma once

#include <QString>
#include <QStringList>
#include <optional>

namespace brumlis {

/// A pack file among the window's arguments (`brumlis FIL.brumlis`, as a double click on one
/// starts it): taken out of `arguments`, so that the rest reads as the usual command line.
std::optional<QString> takePackFile(QStringList& arguments);

/// What the person said to a pack, and what came of it.
struct PackOffer {
    std::optional<QString> folder; ///< installed here: the data folder to speak with
    int status = 0;                ///< to exit with when there is no folder
};

/// Asks "Installera rösten "<name>"?" and, on yes, installs the pack for the user (a pack of
/// the same name is replaced; the question says so). A pack that is refused is told in a box.
PackOffer offerPack(const QString& packFile);

} // namespace brumlis
