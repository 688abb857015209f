#include "voice.h"

#include "voicetools/folderreport.h"
#include "voicetools/speechsynth.h"
#include "voicetools/voicemaker.h"
#include "voicetools/wavfile.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFile>

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
    const QString& dataDir = context.dataDir;
    const bool remake = parser.isSet(all);

    std::vector<ListReport> lists;
    const std::vector<WordReport> words = collectWords(dataDir, &lists);
    for (const ListReport& list : lists)
        if (list.status != ListStatus::Ok)
            err.write(QStringLiteral("voice: %1 %2\n").arg(list.path, problemText(list.status)));

    const QString root = dataDir.isEmpty() ? QStringLiteral(".") : dataDir;
    const SoundResolver resolver(dataDir);
    std::vector<const WordReport*> wanted;
    bool complete = true;
    int present = 0;
    for (const WordReport& word : words) {
        // A phrase's file name is fixed by the program; a word's is the word itself.
        if (const QString why = word.isPhrase() ? QString() : fileNameProblem(word.text);
            !why.isEmpty()) {
            err.write(QStringLiteral("voice: hoppar över \"%1\": ordet %2\n").arg(word.text, why));
            complete = false;
            continue;
        }
        if (!remake && resolver.find(word.soundPath).match != SoundResolver::Match::None) {
            ++present;
            continue;
        }
        wanted.push_back(&word);
    }

    if (parser.isSet(dryRun)) {
        for (const WordReport* word : wanted)
            out.write(word->text + u'\n');
        out.flush();
        return CliOk;
    }
    if (wanted.empty()) {
        out.write(QStringLiteral("Inga inspelningar saknas (%1 finns).\n").arg(present));
        out.flush();
        return complete ? CliOk : CliIncomplete;
    }

    // Matched to the recordings this run keeps, so that a remade voice does not drift
    // towards its own last run.
    QSet<QString> targets;
    for (const WordReport* word : wanted)
        targets.insert(QDir::cleanPath(root + u'/' + word->soundPath));
    QList<QByteArray> kept;
    for (const QByteArray& file : recordingFiles(dataDir))
        if (!targets.contains(QDir::cleanPath(QFile::decodeName(file))))
            kept << file;
    const double target = targetLoudness(kept);

    SpeechSynth synth;
    if (!synth.isReady()) {
        err.write(QStringLiteral("voice: %1\n").arg(synth.error()));
        return CliIncomplete;
    }
    if (!QDir().mkpath(root + QStringLiteral("/sound"))) {
        err.write(QStringLiteral("voice: kan inte skapa %1/sound\n").arg(root));
        return CliIncomplete;
    }
    int made = 0;
    for (const WordReport* word : wanted) {
        std::vector<float> samples = trimSilence(synth.speak(word->text));
        if (samples.empty()) {
            err.write(
                QStringLiteral("voice: espeak-ng gav inget ljud för \"%1\"\n").arg(word->text));
            complete = false;
            continue;
        }
        // Marked, so that check and the studio tell it from a person's recording.
        const QByteArray wav =
            makeRecording(std::move(samples), synth.rate(), target, VoiceSoftware);
        QString why;
        if (wav.isEmpty() || !writeFileAtomically(root + u'/' + word->soundPath, wav, &why)) {
            err.write(QStringLiteral("voice: kan inte skriva %1: %2\n").arg(word->soundPath, why));
            complete = false;
            continue;
        }
        out.write(QStringLiteral("gjorde %1\n").arg(word->soundPath));
        out.flush();
        ++made;
    }
    out.write(QStringLiteral("%1 inspelningar gjorda (%2 LUFS), %3 fanns redan.\n")
                  .arg(made)
                  .arg(target, 0, 'f', 1)
                  .arg(present));
    out.flush();
    return complete ? CliOk : CliIncomplete;
}

} // namespace brumlis
