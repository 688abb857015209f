#pragma once

#include "cli.h"
#include "output.h"

#include <QString>
#include <QStringList>

namespace brumlis {

/// `brumlis-cli [--data MAPP] voice [--röst NAMN] [--alla] [--dry-run]`: makes the missing
/// recordings of the data folder with an espeak-ng voice, the Swedish one unless --röst
/// names another. CliOk when every word has a recording afterwards; CliUsageError, with
/// nothing written, for a voice espeak-ng does not have.
CliStatus runVoice(const std::vector<std::u16string>& args, CliContext& context);

} // namespace brumlis
