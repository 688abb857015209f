#pragma once
// The command line's frame for the Qt tools: their text as QString, written through the
// frame's checked streams and read from its parser.
#include "brumlis/qtbridge/text.h"
#include "brumlis/text/text.h"
#include "cli.h"
#include "commandline.h"
#include "output.h"

#include <QByteArrayView>
#include <QString>
#include <QStringList>

namespace brumlis {

inline void write(Output& out, const QString& text) {
    out.write(std::u16string_view(reinterpret_cast<const char16_t*>(text.utf16()),
                                  std::size_t(text.size())));
}

inline void write(Output& out, QByteArrayView bytes) {
    out.write(std::string_view(bytes.data(), std::size_t(bytes.size())));
}

inline QString valueOf(const CommandLine& parser, int option) {
    return qt(parser.value(option));
}

inline QStringList positionalOf(const CommandLine& parser) {
    return qt(parser.positional());
}

/// The data folder as Qt names it.
inline QString dataDirOf(const CliContext& context) {
    return qtPath(context.dataDir);
}

inline CliStatus reportUsageError(CliContext& context, const QString& reason,
                                  const QString& usage) {
    return reportUsageError(context, core(reason), core(usage));
}

/// The tools of brumlis-cli that only Linux has (check, voice, render, pack, install, packs,
/// uninstall), in the order --hjälp lists them after generate and speak.
std::span<const CliCommand> toolCommands();

/// brumlis-cli as Linux has it: generate and speak, then the tools; the arguments as Qt
/// gives them, without the program's name.
CliStatus runCli(const QStringList& args, std::FILE* out, std::FILE* err,
                 const PlayerFactory& players);

} // namespace brumlis
