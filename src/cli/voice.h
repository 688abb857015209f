#pragma once

#include "cli.h"
#include "output.h"

#include <QString>
#include <QStringList>

namespace brumlis {

/// `brumlis-cli [--data MAPP] voice [--alla] [--dry-run]`: makes the missing recordings of
/// the data folder with espeak-ng's Swedish voice. CliOk when every word has a recording
/// afterwards.
CliStatus runVoice(const QStringList& args, CliContext& context);

} // namespace brumlis
