#pragma once

#include <QStringList>
#include <cstdio>
#include <functional>
#include <memory>

namespace brumlis {

class SoundPlayer;

/// Makes the player that `speak` uses, given the data folder that holds sound/.
using PlayerFactory = std::function<std::unique_ptr<SoundPlayer>(const QString& dataDir)>;

/// Runs brumlis-cli with `args` (without the program name), writing UTF-8 to `out` and
/// `err`. Returns the exit status: 0 when every pick succeeded, 1 when one failed, 2 for
/// a usage error.
int runCli(const QStringList& args, std::FILE* out, std::FILE* err, const PlayerFactory& players);

} // namespace brumlis
