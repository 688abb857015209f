#pragma once

#include <QCommandLineOption>
#include <QStringList>
#include <cstdio>
#include <functional>
#include <initializer_list>
#include <memory>
#include <optional>

class QCommandLineParser;

namespace brumlis {

class Output;
class SoundPlayer;

/// Makes the player that `speak` uses, given the data folder that holds sound/.
using PlayerFactory = std::function<std::unique_ptr<SoundPlayer>(const QString& dataDir)>;

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
    QString dataDir;
    PlayerFactory players;
};

/// A command of brumlis-cli: `args` are the arguments after its name. Writes only
/// through the context's streams; a WriteFailed it lets through ends the program.
using CliCommandFunction = CliStatus (*)(const QStringList& args, CliContext& context);

struct CliCommand {
    const char* name;
    const char* summary; ///< one line for the command list of --help
    CliCommandFunction run;
};

/// Option names. Each option is named in Swedish, as --help shows it; a name with å, ä or ö
/// is also taken in ASCII (--anda), and the English name an option had before (--replace)
/// is still taken, so that scripts keep working.
inline QStringList optionNames(std::initializer_list<const char*> names) {
    QStringList list;
    for (const char* name : names)
        list << QString::fromUtf8(name);
    return list;
}
/// --ändå: go on although check finds faults (pack, install).
inline QCommandLineOption anywayOption() {
    return QCommandLineOption(optionNames({"ändå", "anda"}));
}

/// Parses a command's `args` with `parser`, which gets `options` and -h/--help added.
/// Handles --help (prints `usage`, status 0) and every usage error (prints "brumlis-cli:
/// <reason>" and `usage` on stderr, status 2): returns the status to exit with then, or
/// nothing when the command should go on. Positional arguments are refused unless
/// `positionalAllowed`.
std::optional<CliStatus> parseCommandLine(QCommandLineParser& parser,
                                          const QList<QCommandLineOption>& options,
                                          const QStringList& args, CliContext& context,
                                          const QString& usage, bool positionalAllowed = false);

/// Reports a usage error found after parsing ("brumlis-cli: <reason>", then `usage`, on
/// stderr); returns CliUsageError.
CliStatus reportUsageError(CliContext& context, const QString& reason, const QString& usage);

/// Runs brumlis-cli with `args` (without the program name), writing UTF-8 to `out` and
/// `err`: global options (--data MAPP, --help, --version), then a command and its
/// options.
CliStatus runCli(const QStringList& args, std::FILE* out, std::FILE* err,
                 const PlayerFactory& players);

} // namespace brumlis
