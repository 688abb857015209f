#pragma once

#include <QString>

namespace brumlis {

/// The folder whose text/ and sound/ the programs read. `given` (from --data or the
/// window's argument) wins as it is; otherwise the first folder that holds text/ of:
/// the working directory, $XDG_DATA_HOME/brumlis, each $XDG_DATA_DIRS entry's brumlis.
/// When none does, the working directory, so the usual messages name what is missing.
/// The result is an absolute path.
QString findDataDir(const QString& given = {});

} // namespace brumlis
