#include "check.h"
#include "packs.h"
#include "qtcli.h"
#include "render.h"
#include "voice.h"

#include <iterator>
#include <vector>

namespace brumlis {

namespace {

constexpr CliCommand ToolCommands[] = {
    {"check", "gå igenom ordlistor och inspelningar: vad saknas, vad är trasigt", runCheck},
    {"voice", "gör de inspelningar som saknas med en röst från espeak-ng", runVoice},
    {"render", "skriv en mening som en WAV-fil", runRender},
    {"pack", "packa datamappen som en röst i en .brumlis-fil", runPack},
    {"install", "installera en röst från en .brumlis-fil", runInstall},
    {"packs", "visa de installerade rösterna", runPacks},
    {"uninstall", "ta bort en installerad röst", runUninstall},
};

} // namespace

std::span<const CliCommand> toolCommands() {
    return ToolCommands;
}

CliStatus runCli(const QStringList& args, std::FILE* out, std::FILE* err,
                 const PlayerFactory& players) {
    static const std::vector<CliCommand> commands = [] {
        std::vector<CliCommand> all(sentenceCommands().begin(), sentenceCommands().end());
        all.insert(all.end(), std::begin(ToolCommands), std::end(ToolCommands));
        return all;
    }();
    return runCli(core(args), out, err, players, commands);
}

} // namespace brumlis
