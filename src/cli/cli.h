#pragma once

#include "commandline.h"

#include <cstdio>
#include <filesystem>
#include <functional>
#include <memory>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace brumlis {

class Output;
class SoundPlayer;

/// Makes the player that `speak` uses, given the data folder that holds sound/.
using PlayerFactory =
    std::function<std::unique_ptr<SoundPlayer>(const std::filesystem::path& dataDir)>;

/// The exit statuses of brumlis-cli.
enum CliStatus : int {
    CliOk = 0, ///< everything the command was asked for was done
    /// The command went through to the end, but not all of it could be done: generate and
    /// speak, a word list failed (the sentences were still printed); check, a word cannot
    /// be spoken; voice, a recording could not be made; render, a word was not picked or
    /// has no recording that plays, or the file could not be written.
    CliIncomplete = 1,
    CliUsageError = 2,  ///< bad arguments
    CliWriteFailed = 3, ///< stdout or stderr refused a write
};

/// What a command gets: checked streams, the data folder in use (absolute) and the
/// way to a sound player.
struct CliContext {
    Output& out;
    Output& err;
    std::filesystem::path dataDir;
    PlayerFactory players;
};

/// A command of brumlis-cli: `args` are the arguments after its name. Writes only
/// through the context's streams; a WriteFailed it lets through ends the program.
using CliCommandFunction = CliStatus (*)(const std::vector<std::u16string>& args,
                                         CliContext& context);

struct CliCommand {
    const char* name;
    const char* summary; ///< one line for the command list of --hjälp
    CliCommandFunction run;
};

/// The commands every build of brumlis-cli has: generate and speak.
std::span<const CliCommand> sentenceCommands();

/// Options that several commands take, each with its Swedish name (what --hjälp shows), that
/// name in ASCII where it has å, ä or ö, and the English name it had before, which scripts
/// may still use.
std::vector<std::u16string> optionNames(std::initializer_list<const char*> names);
/// --ändå: go on although check finds faults (pack, install).
int addAnywayOption(CommandLine& parser);

/// Parses a command's `args` with `parser`, which gets -h/--hjälp added to the options it
/// has. Handles --hjälp (prints `usage`, status 0) and every usage error (prints
/// "brumlis-cli: <reason>" and `usage` on stderr, status 2): returns the status to exit with
/// then, or nothing when the command should go on. Positional arguments are refused unless
/// `positionalAllowed`.
std::optional<CliStatus> parseCommandLine(CommandLine& parser,
                                          const std::vector<std::u16string>& args,
                                          CliContext& context, const std::u16string& usage,
                                          bool positionalAllowed = false);

/// Reports a usage error found after parsing ("brumlis-cli: <reason>", then `usage`, on
/// stderr); returns CliUsageError.
CliStatus reportUsageError(CliContext& context, const std::u16string& reason,
                           const std::u16string& usage);

/// "Datamapp: <folder>\n", as every help ends.
std::u16string dataDirLine(const CliContext& context);

/// Runs brumlis-cli with `args` (without the program name), writing UTF-8 to `out` and
/// `err`: global options (--data MAPP, --hjälp, --version), then one of `commands` and its
/// options. `commands` are listed by --hjälp in their order.
CliStatus runCli(const std::vector<std::u16string>& args, std::FILE* out, std::FILE* err,
                 const PlayerFactory& players, std::span<const CliCommand> commands);

} // namespace brumlis
