#pragma once

#include "cli.h"
#include "output.h"

#include <QString>
#include <QStringList>

namespace brumlis {

/// `brumlis-cli [--data MAPP] voice [--alla] [--dry-run]`: makes the missing recordings of
/// the data folder with espeak-ng's Swedish voice. Returns 0 when every word has a recording
/// afterwards, 1 when one could not be made, 2 for a usage error.
int runVoice(const QStringList& args, CliContext& context);

} // namespace brumlis
