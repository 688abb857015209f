#pragma once

#include "cli.h"
#include "output.h"

#include <QString>
#include <QStringList>

namespace brumlis {

/// `brumlis-cli [--data MAPP] check [--json]`: reports on the word lists and recordings of
/// the data folder as a table, or as one JSON document. CliOk when every word can be spoken.
CliStatus runCheck(const std::vector<std::u16string>& args, CliContext& context);

} // namespace brumlis
