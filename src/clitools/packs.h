#pragma once

#include "cli.h"

#include <QStringList>
#include <optional>

namespace brumlis {

/// `brumlis-cli [--data MAPP] pack -o FIL.brumlis [--name NAMN] [--speaker NAMN]
/// [--licence TEXT] [--ändå]`: packs the data folder as one file.
CliStatus runPack(const std::vector<std::u16string>& args, CliContext& context);

/// `brumlis-cli install FIL.brumlis [--replace]`: installs a pack for the user.
CliStatus runInstall(const std::vector<std::u16string>& args, CliContext& context);

/// `brumlis-cli packs [--json]`: lists the installed packs.
CliStatus runPacks(const std::vector<std::u16string>& args, CliContext& context);

/// `brumlis-cli uninstall NAMN`: removes an installed pack and its menu entry.
CliStatus runUninstall(const std::vector<std::u16string>& args, CliContext& context);

/// When `args` name a pack file, runs `check` with the rest of them on the folder the pack
/// unpacks to (a temporary one, removed afterwards) and returns its status; a pack that is
/// refused is reported with status 1. Nothing when no pack file is named.
std::optional<CliStatus> checkPackFile(const std::vector<std::u16string>& args, CliContext& context,
                                       CliCommandFunction check);

} // namespace brumlis
