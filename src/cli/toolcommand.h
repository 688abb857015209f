#pragma once

#include "output.h"

#include <QCommandLineParser>
#include <QString>
#include <QStringList>
#include <cstdio>
#include <optional>

namespace brumlis {

/// True for the commands for people who make vocabularies and voices: check, voice, render.
bool isToolCommand(const QString& command);

/// Runs one of them with the options that follow its name. Returns the exit status; a
/// failed write to `out` or `err` ends the command with status 1.
int runToolCommand(const QString& command, const QString& dataDir, const QStringList& args,
                   std::FILE* out, std::FILE* err);

/// Parses a tool command's own options. Returns an exit status when the command is done
/// already: 0 after --help, 2 (with the reason and `usage` on `err`) for a usage error.
std::optional<int> parseToolOptions(QCommandLineParser& parser, const QString& command,
                                    const QStringList& args, const char* usage, Output& out,
                                    Output& err);

/// Reports a usage error as parseToolOptions does; returns 2.
int usageError(const QString& command, const QString& reason, const char* usage, Output& err);

} // namespace brumlis
