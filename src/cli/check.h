#pragma once

#include "cli.h"
#include "output.h"

#include <QString>
#include <QStringList>

namespace brumlis {

/// `brumlis-cli [--data MAPP] check [--json]`: reports on the word lists and recordings of
/// the data folder as a table, or as one JSON document. Returns 0
/// when every word can be spoken, 1 when something is missing or broken, 2 for a usage error.
int runCheck(const QStringList& args, CliContext& context);

} // namespace brumlis
