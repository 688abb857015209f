#include "cli.h"

#include "brumlis/playback/soundplayer.h"
#include "brumlis/playback/speechcontroller.h"
#include "brumlis/sentence/datadir.h"
#include "brumlis/sentence/systemerror.h"
#include "check.h"
#include "output.h"
#include "packs.h"
#include "render.h"
#include "sentences.h"
#include "version.h"
#include "voice.h"

#include <QCommandLineParser>
#include <QDir>
#include <QEventLoop>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <cstring>

namespace brumlis {

namespace {

CliStatus runGenerate(const QStringList& args, CliContext& context);
CliStatus runSpeak(const QStringList& args, CliContext& context);

// Every command of brumlis-cli, in the order --help lists them.
constexpr CliCommand Commands[] = {
    {"generate", "skriv ut meningar, en per rad", runGenerate},
    {"speak", "läs upp meningar och skriv ut varje ord när det sägs", runSpeak},
    {"check", "gå igenom ordlistor och inspelningar: vad saknas, vad är trasigt", runCheck},
    {"voice", "gör de inspelningar som saknas med en röst från espeak-ng", runVoice},
    {"render", "skriv en mening som en WAV-fil", runRender},
    {"pack", "packa datamappen som en röst i en .brumlis-fil", runPack},
    {"install", "installera en röst från en .brumlis-fil", runInstall},
    {"packs", "visa de installerade rösterna", runPacks},
    {"uninstall", "ta bort en installerad röst", runUninstall},
};

const CliCommand* findCommand(const QString& name) {
    for (const CliCommand& command : Commands)
        if (name == QLatin1String(command.name))
            return &command;
    return nullptr;
}

QString dataDirLine(const CliContext& context) {
    return QStringLiteral("Datamapp: %1\n").arg(QDir::toNativeSeparators(context.dataDir));
}

QString globalUsage(const CliContext& context) {
    QString text = QStringLiteral("Användning: brumlis-cli [--data MAPP] KOMMANDO [FLAGGOR]\n"
                                  "            brumlis-cli KOMMANDO --hjälp\n"
                                  "\n"
                                  "Kommandon:\n");
    for (const CliCommand& command : Commands)
        text += QStringLiteral("  %1 %2\n")
                    .arg(QString::fromUtf8(command.name), -10)
                    .arg(QString::fromUtf8(command.summary));
    text += QStringLiteral(
        "\n"
        "Flaggor före kommandot:\n"
        "  --data MAPP    mappen som innehåller text/ och sound/; utan den den första\n"
        "                 av arbetskatalogen, ~/.local/share/brumlis och\n"
        "                 /usr/share/brumlis som innehåller text/\n"
        "  --hjälp, -h    visa den här hjälpen\n"
        "  --version      visa versionen\n"
        "\n"
        "En flagga med å, ä eller ö kan också skrivas utan dem: --hjalp, --fro, --anda,\n"
        "--ersatt, --rost, --sprak.\n"
        "\n");
    return text + dataDirLine(context);
}

// The names of the options that take a value, as they are written on a command line.
QStringList valueOptionNames(const QList<QCommandLineOption>& options) {
    QStringList names;
    for (const QCommandLineOption& option : options)
        if (!option.valueName().isEmpty())
            for (const QString& name : option.names())
                names << QLatin1String(name.size() == 1 ? "-" : "--") + name;
    return names;
}

// QCommandLineParser words its errors in English; brumlis-cli speaks Swedish, so the
// reason is worked out from the arguments themselves.
QString parseErrorReason(const QCommandLineParser& parser, const QStringList& args,
                         const QList<QCommandLineOption>& options) {
    const QStringList unknown = parser.unknownOptionNames();
    if (unknown.contains(QStringLiteral("data")))
        return QStringLiteral("--data står före kommandot");
    if (!unknown.isEmpty()) {
        for (const QString& arg : args) {
            const QString name = arg.section(u'=', 0, 0);
            if (name == QStringLiteral("--") + unknown.first() || name == u'-' + unknown.first())
                return QStringLiteral("okänd flagga: %1").arg(name);
        }
        return QStringLiteral("okänd flagga: --%1").arg(unknown.first());
    }
    const QStringList withValue = valueOptionNames(options);
    if (!args.isEmpty() && withValue.contains(args.last()))
        return QStringLiteral("%1 kräver ett värde").arg(args.last());
    for (const QString& arg : args) {
        if (arg == u"--")
            break;
        const QString name = arg.section(u'=', 0, 0);
        if (arg.startsWith(u'-') && name.size() < arg.size() && !withValue.contains(name))
            return QStringLiteral("%1 tar inget värde").arg(name);
    }
    return parser.errorText();
}

// Finishes a parse: a usage error or --help gives the status to exit with.
std::optional<CliStatus> settleParse(const QCommandLineParser& parser, bool parsed,
                                     const QList<QCommandLineOption>& options,
                                     const QStringList& args, CliContext& context,
                                     const QString& usage, bool positionalAllowed) {
    auto usageError = [&](const QString& reason) {
        return std::optional<CliStatus>(reportUsageError(context, reason, usage));
    };
    if (!parsed)
        return usageError(parseErrorReason(parser, args, options));
    if (parser.isSet(QStringLiteral("hjälp"))) {
        context.out.write(usage);
        return CliOk;
    }
    if (!positionalAllowed && !parser.positionalArguments().isEmpty())
        return usageError(
            QStringLiteral("oväntat argument: %1").arg(parser.positionalArguments().first()));
    return std::nullopt;
}

// Adds -h/--help to `options` and makes single-dash words long options, as GNU tools
// and Qt's own -platform do.
QList<QCommandLineOption> prepare(QCommandLineParser& parser, QList<QCommandLineOption> options) {
    options << QCommandLineOption(optionNames({"h", "hjälp", "hjalp", "help"}));
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    parser.addOptions(options);
    return options;
}

} // namespace

std::optional<CliStatus> parseCommandLine(QCommandLineParser& parser,
                                          const QList<QCommandLineOption>& options,
                                          const QStringList& args, CliContext& context,
                                          const QString& usage, bool positionalAllowed) {
    const QList<QCommandLineOption> all = prepare(parser, options);
    const bool parsed = parser.parse(QStringList{QStringLiteral("brumlis-cli")} + args);
    return settleParse(parser, parsed, all, args, context, usage, positionalAllowed);
}

namespace {

// One value as QJsonDocument writes it, compact. A document holds only an array or an
// object, so the value is written as the one item of an array and taken out of it.
QByteArray jsonValue(const QJsonValue& value) {
    const QByteArray array = QJsonDocument(QJsonArray{value}).toJson(QJsonDocument::Compact);
    return array.sliced(1, array.size() - 2);
}

// A JSON object with its members in the order given. QJsonObject sorts its keys, which
// would put "slots" before "template" and "sound" before "text", and the lines of
// generate --json have always read the other way round; so only the braces, colons and
// commas are set here, and every key and value is written by QJsonDocument.
QByteArray jsonObject(std::initializer_list<std::pair<const char*, QByteArray>> members) {
    QByteArrayList items;
    for (const auto& [key, value] : members)
        items << jsonValue(QString::fromLatin1(key)) + ':' + value;
    return '{' + items.join(',') + '}';
}

QByteArray jsonLine(const SentenceBuffer& buffer) {
    QByteArrayList slots;
    for (int k = 0; k < buffer.SlotsUsed; ++k)
        slots << jsonObject(
            {{"text", jsonValue(buffer.WordText(k))}, {"sound", jsonValue(buffer.SoundFile(k))}});
    return jsonObject(
        {{"template", jsonValue(buffer.TemplateNo)}, {"slots", '[' + slots.join(',') + ']'}});
}

// Prints each word as it is shown, so the terminal follows the voice. The words of the
// template's slots are separated by single blanks, like `generate` prints them. A write
// that fails is kept, to be thrown once the event loop has been left.
class StreamView final : public SentenceView {
public:
    explicit StreamView(Output& out)
        : m_out(out) {}

    void beginSentence(int slotsUsed) {
        m_slotsUsed = slotsUsed;
        m_slot = 0;
        m_caption.clear();
    }
    QString caption() const override { return m_caption; }
    void showCaption(const QString& caption) override {
        if (caption.isEmpty()) {
            m_caption.clear();
            m_slot = 0;
            return;
        }
        if (m_slot < m_slotsUsed && !failed) {
            QString word = caption.sliced(m_caption.size());
            word.chop(1); // the blank the label puts after every word
            try {
                m_out.write(m_slot > 0 ? u' ' + word : word);
                m_out.flush();
            } catch (const WriteFailed& failure) {
                failed = failure;
                if (onFailure)
                    onFailure();
            }
        }
        m_caption = caption;
        ++m_slot;
    }
    void setRepeatEnabled(bool) override {}
    void setGenerateEnabled(bool) override {}
    void focusGenerate() override {}

    std::optional<WriteFailed> failed;
    std::function<void()> onFailure;

private:
    Output& m_out;
    int m_slotsUsed = 0;
    int m_slot = 0;
    QString m_caption;
};

QString sentenceUsage(const char* command, bool json, const CliContext& context) {
    QString text =
        QStringLiteral(
            "Användning: brumlis-cli [--data MAPP] %1 [--antal N] [--frö S] "
            "[--mall K]%2\n"
            "\n"
            "  --antal N      antal meningar (standard: 1)\n"
            "  --frö S        startvärde för slumpen: samma värde ger "
            "samma meningar (också --fro)\n"
            "  --mall K       använd alltid mall K (1 till 11, eller form K i mallar.txt)\n")
            .arg(QString::fromUtf8(command), json ? u" [--json]" : u"");
    if (json)
        text += QStringLiteral("  --json         ett JSON-objekt per mening\n");
    text += QStringLiteral("  --hjälp        visa den här hjälpen\n\n");
    return text + dataDirLine(context);
}

// A run of generate or speak: the sentence options they share, and --json for generate.
struct SentenceRun {
    SentenceOptions sentence{true};
    bool json = false;
};

// On a usage error or --help, the status to exit with.
std::optional<CliStatus> parseSentenceRun(SentenceRun& run, const char* command, bool json,
                                          const QStringList& args, CliContext& context) {
    const QString usage = sentenceUsage(command, json, context);
    QCommandLineParser parser;
    const QCommandLineOption jsonOption(QStringLiteral("json"));
    if (const auto status =
            parseCommandLine(parser, run.sentence.options() << jsonOption, args, context, usage))
        return status;
    if (const auto status = run.sentence.read(parser, context, usage))
        return status;
    if (parser.isSet(jsonOption)) {
        if (!json)
            return reportUsageError(context, QStringLiteral("--json gäller bara generate"), usage);
        run.json = true;
    }
    return std::nullopt;
}

CliStatus runGenerate(const QStringList& args, CliContext& context) {
    SentenceRun run;
    if (const auto status = parseSentenceRun(run, "generate", true, args, context))
        return *status;
    SentenceSource sentences(run.sentence, context);
    bool allPicked = true;
    SentenceBuffer buffer;
    for (long long n = 0; n < run.sentence.count(); ++n) {
        allPicked &= sentences.next(buffer);
        if (run.json)
            context.out.write(QByteArrayView(jsonLine(buffer) + '\n'));
        else
            context.out.write(sentenceLine(buffer) + u'\n');
        // Each sentence reaches the reader at once, and a reader that has gone away
        // stops the loop here rather than after the whole count.
        context.out.flush();
    }
    return allPicked ? CliOk : CliIncomplete;
}

// Speaks through the same controller as the window, in an event loop of its own, so each
// word is printed when the window would show it.
CliStatus runSpeak(const QStringList& args, CliContext& context) {
    SentenceRun run;
    if (const auto status = parseSentenceRun(run, "speak", false, args, context))
        return *status;
    SentenceSource sentences(run.sentence, context);
    StreamView view(context.out);
    SpeechController speech(view, context.players ? context.players(context.dataDir) : nullptr);
    QEventLoop loop;
    QObject::connect(&speech, &SpeechController::sentenceEnded, &loop, &QEventLoop::quit);
    view.onFailure = [&] {
        speech.close();
        loop.quit();
    };
    bool allPicked = true;
    SentenceBuffer buffer;
    for (long long n = 0; n < run.sentence.count(); ++n) {
        allPicked &= sentences.next(buffer);
        view.beginSentence(buffer.SlotsUsed);
        speech.SpeakSentence(buffer);
        loop.exec();
        if (view.failed)
            throw *view.failed;
        context.out.write(QStringLiteral("\n"));
        context.out.flush();
    }
    return allPicked ? CliOk : CliIncomplete;
}

CliStatus dispatch(const QStringList& args, Output& out, Output& err,
                   const PlayerFactory& players) {
    QCommandLineParser parser;
    parser.setOptionsAfterPositionalArgumentsMode(QCommandLineParser::ParseAsPositionalArguments);
    const QCommandLineOption data(QStringLiteral("data"), {}, QStringLiteral("MAPP"));
    const QCommandLineOption version(QStringLiteral("version"));
    const QList<QCommandLineOption> options = prepare(parser, {data, version});
    const bool parsed = parser.parse(QStringList{QStringLiteral("brumlis-cli")} + args);

    // The folder is looked up before the arguments are judged, so that the help names
    // the folder that would be read.
    CliContext context{out, err, findDataDir(parsed ? parser.value(data) : QString()), players};
    if (const auto status =
            settleParse(parser, parsed, options, args, context, globalUsage(context), true))
        return *status;
    if (parser.isSet(version)) {
        out.write(QStringLiteral("brumlis-cli %1\n").arg(QLatin1String(VersionRecord)));
        return CliOk;
    }

    auto usageError = [&](const QString& reason) {
        return reportUsageError(context, reason, globalUsage(context));
    };
    if (parser.isSet(data) && !QFileInfo(parser.value(data)).isDir())
        return usageError(QStringLiteral("mappen finns inte: %1").arg(parser.value(data)));
    QStringList rest = parser.positionalArguments();
    if (rest.isEmpty())
        return usageError(QStringLiteral("inget kommando angivet"));
    const QString name = rest.takeFirst();
    const CliCommand* command = findCommand(name);
    if (!command)
        return usageError(QStringLiteral("okänt kommando: %1").arg(name));
    return command->run(rest, context);
}

} // namespace

CliStatus reportUsageError(CliContext& context, const QString& reason, const QString& usage) {
    context.err.write(QStringLiteral("brumlis-cli: %1\n\n").arg(reason) + usage);
    return CliUsageError;
}

CliStatus runCli(const QStringList& args, std::FILE* out, std::FILE* err,
                 const PlayerFactory& players) {
    Output checkedOut(out);
    Output checkedErr(err);
    try {
        const CliStatus status = dispatch(args, checkedOut, checkedErr, players);
        checkedOut.flush();
        checkedErr.flush();
        return status;
    } catch (const WriteFailed& failure) {
        // stderr may be the stream that failed; then there is nobody left to tell.
        std::fprintf(err, "brumlis-cli: kan inte skriva utdata: %s\n",
                     systemErrorText(failure.error).toUtf8().constData());
        std::fflush(err);
        return CliWriteFailed;
    }
}

} // namespace brumlis
