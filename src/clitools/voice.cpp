#include "voice.h"

#include "brumlis/qtbridge/text.h"
#include "brumlis/text/swedish.h"
#include "brumlis/voicetools/voicemaker.h"
#include "qtcli.h"

namespace brumlis {

namespace {

constexpr char kVoiceUsage[] =
    "Användning: brumlis-cli [--data MAPP] voice [--röst NAMN] [--alla] [--lista]\n"
    "\n"
    "Gör de inspelningar som saknas i sound/ med en röst från espeak-ng, den svenska (sv) om\n"
    "inget annat sägs: varje ord och fast fras talas in, tystnaden före och efter tas bort och\n"
    "ljudstyrkan läggs på mappens median (-23 LUFS när mappen inte har några inspelningar).\n"
    "Filerna får de namn programmet letar efter och skrivs som 16-bitars PCM WAV, märkta som\n"
    "gjorda av voice. En inspelning som finns skrivs aldrig över utan --alla.\n"
    "\n"
    "  --röst NAMN  espeak-ng:s röst, som för espeak-ng -v: ett språk som sv, en eller\n"
    "               en-us, med en variant efter + om man vill (en+f3); också --rost\n"
    "  --alla       gör om alla inspelningar, också de som finns\n"
    "  --lista      skriv bara ut de ord som saknar inspelning\n"
    "  --hjälp      visa den här hjälpen\n";

} // namespace

CliStatus runVoice(const std::vector<std::u16string>& args, CliContext& context) {
    CommandLine parser;
    const int all = parser.add({u"alla"});
    const int dryRun = parser.add(optionNames({"lista", "dry-run"}));
    const int voiceOption = parser.add(optionNames({"röst", "rost"}), u"NAMN");
    const QString usage = QString::fromUtf8(kVoiceUsage);
    if (const auto done = parseCommandLine(parser, args, context, core(usage)))
        return *done;
    Output& out = context.out;
    Output& err = context.err;

    // Asked before the folder is read, so that a misspelt voice makes nothing at all. An
    // espeak-ng that does not start is told when the recordings are made, as without --röst.
    const QString voice = parser.isSet(voiceOption) ? valueOf(parser, voiceOption)
                                                    : QString::fromLatin1(DefaultVoice);
    auto unknownVoice = [&] {
        return reportUsageError(
            context, QStringLiteral("espeak-ng har ingen röst som heter \"%1\"").arg(voice), usage);
    };
    if (parser.isSet(voiceOption) && VoiceMaker::hasVoice(voice) == false)
        return unknownVoice();

    VoiceMaker maker(dataDirOf(context), parser.isSet(all), voice);
    for (const ListReport& list : maker.lists())
        if (list.status != ListStatus::Ok)
            write(err,
                  QStringLiteral("voice: %1 %2\n").arg(list.path, qt(problemText(list.status))));
    for (const VoiceMaker::Skipped& word : maker.skipped())
        write(err,
              QStringLiteral("voice: hoppar över \"%1\": ordet %2\n").arg(word.text, word.why));
    bool complete = maker.skipped().empty();

    if (parser.isSet(dryRun)) {
        for (const WordReport& word : maker.wanted())
            write(out, word.text + u'\n');
        out.flush();
        return CliOk;
    }
    if (maker.wanted().empty()) {
        write(out, QStringLiteral("Inga inspelningar saknas (%1 finns).\n").arg(maker.present()));
        out.flush();
        return complete ? CliOk : CliIncomplete;
    }

    using Problem = VoiceMaker::Result::Problem;
    if (const VoiceMaker::Result started = maker.start(); !started.ok()) {
        switch (started.problem) {
        case Problem::UnknownVoice:
            return unknownVoice();
        case Problem::NoSoundFolder:
            write(err, QStringLiteral("voice: kan inte skapa %1\n").arg(started.detail));
            break;
        default:
            write(err, QStringLiteral("voice: %1\n").arg(started.detail));
            break;
        }
        return CliIncomplete;
    }
    int made = 0;
    for (const WordReport& word : maker.wanted()) {
        const VoiceMaker::Result result = maker.make(word);
        if (result.ok()) {
            write(out, QStringLiteral("gjorde %1\n").arg(word.soundPath));
            out.flush();
            ++made;
            continue;
        }
        complete = false;
        if (result.problem == Problem::NoSound)
            write(err,
                  QStringLiteral("voice: espeak-ng gav inget ljud för \"%1\"\n").arg(word.text));
        else
            write(err, QStringLiteral("voice: kan inte skriva %1: %2\n")
                           .arg(word.soundPath, result.detail));
    }
    write(out, QStringLiteral("%1 (%2 LUFS), %3 fanns redan.\n")
                   .arg(qt(swedishCount(made, u"inspelning gjord", u"inspelningar gjorda")),
                        qt(swedishDecimal(maker.targetLufs(), 1)))
                   .arg(maker.present()));
    out.flush();
    return complete ? CliOk : CliIncomplete;
}

} // namespace brumlis
