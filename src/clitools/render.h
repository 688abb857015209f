#pragma once

#include "cli.h"
#include "output.h"

#include <QString>
#include <QStringList>

namespace brumlis {

/// `brumlis-cli [--data MAPP] render [--seed S] [--template K] -o FIL.wav [--rate R] [--mono]`:
/// writes one sentence as one WAV file ("-": standard output) and prints the sentence.
/// CliOk when every word was picked and has a playable recording.
CliStatus runRender(const std::vector<std::u16string>& args, CliContext& context);

} // namespace brumlis
