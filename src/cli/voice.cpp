#include "voice.h"

#include "brumlis/sentence/swedish.h"
#include "brumlis/voicetools/voicemaker.h"

#include <QCommandLineParser>

namespace brumlis {

namespace {

constexpr char kUsage[] =
    "Användning: brumlis-cli [--data MAPP] voice [--alla] [--dry-run]\n"
    "\n"
    "Gör de inspelningar som saknas i sound/ med espeak-ng:s svenska röst: varje ord och fast\n"
    "fras talas in, tystnaden före och efter tas bort och ljudstyrkan läggs på mappens median\n"
    "(-23 LUFS när mappen inte har några inspelningar). Filerna får de namn programmet letar\n"
    "efter och skrivs som 16-bitars PCM WAV, märkta som gjorda av voice. En inspelning som\n"
    "finns skrivs aldrig över utan --alla.\n"
    "\n"
    "  --alla      gör om alla inspelningar, också de som finns\n"
    "  --dry-run   skriv bara ut de ord som saknar inspelning\n"
    "  --help      visa den här hjälpen\n";

} // namespace

CliStatus runVoice(const QStringList& args, CliContext& context) {
    QCommandLineParser parser;
    const QCommandLineOption all(QStringLiteral("alla"));
    const QCommandLineOption dryRun(QStringLiteral("dry-run"));
    if (const auto done =
            parseCommandLine(parser, {all, dryRun}, args, context, QString::fromUtf8(kUsage)))
        return *done;
    Output& out = context.out;
    Output& err = context.err;

    VoiceMaker maker(context.dataDir, parser.isSet(all));
    for (const ListReport& list : maker.lists())
        if (list.status != ListStatus::Ok)
            err.write(QStringLiteral("voice: %1 %2\n").arg(list.path, problemText(list.status)));
    for (const VoiceMaker::Skipped& word : maker.skipped())
        err.write(QStringLiteral("voice: hoppar över \"%1\": ordet %2\n").arg(word.text, word.why));
    bool complete = maker.skipped().empty();

    if (parser.isSet(dryRun)) {
        for (const WordReport& word : maker.wanted())
            out.write(word.text + u'\n');
        out.flush();
        return CliOk;
    }
    if (maker.wanted().empty()) {
        out.write(QStringLiteral("Inga inspelningar saknas (%1 finns).\n").arg(maker.present()));
        out.flush();
        return complete ? CliOk : CliIncomplete;
    }

    using Problem = VoiceMaker::Result::Problem;
    if (const VoiceMaker::Result started = maker.start(); !started.ok()) {
        if (started.problem == Problem::NoSynth)
            err.write(QStringLiteral("voice: %1\n").arg(started.detail));
        else
            err.write(QStringLiteral("voice: kan inte skapa %1\n").arg(started.detail));
        return CliIncomplete;
    }
    int made = 0;
    for (const WordReport& word : maker.wanted()) {
        const VoiceMaker::Result result = maker.make(word);
        if (result.ok()) {
            out.write(QStringLiteral("gjorde %1\n").arg(word.soundPath));
            out.flush();
            ++made;
            continue;
        }
        complete = false;
        if (result.problem == Problem::NoSound)
            err.write(
                QStringLiteral("voice: espeak-ng gav inget ljud för \"%1\"\n").arg(word.text));
        else
            err.write(QStringLiteral("voice: kan inte skriva %1: %2\n")
                          .arg(word.soundPath, result.detail));
    }
    out.write(QStringLiteral("%1 (%2 LUFS), %3 fanns redan.\n")
                  .arg(swedishCount(made, QStringLiteral("inspelning gjord"),
                                    QStringLiteral("inspelningar gjorda")),
                       swedishDecimal(maker.targetLufs(), 1))
                  .arg(maker.present()));
    out.flush();
    return complete ? CliOk : CliIncomplete;
}

} // namespace brumlis
