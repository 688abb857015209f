#include "cli.h"

#include "brumlis/platform/files.h"
#include "brumlis/platform/systemerror.h"
#include "brumlis/playback/runloop.h"
#include "brumlis/playback/soundplayer.h"
#include "brumlis/playback/speechcontroller.h"
#include "brumlis/sentence/datadir.h"
#include "brumlis/text/text.h"
#include "output.h"
#include "sentences.h"
#include "version.h"

#include <cstring>
#include <system_error>

namespace brumlis {

namespace {

CliStatus runGenerate(const std::vector<std::u16string>& args, CliContext& context);
CliStatus runSpeak(const std::vector<std::u16string>& args, CliContext& context);

constexpr CliCommand SentenceCommands[] = {
    {"generate", "skriv ut meningar, en per rad", runGenerate},
    {"speak", "läs upp meningar och skriv ut varje ord när det sägs", runSpeak},
};

const CliCommand* findCommand(std::span<const CliCommand> commands, std::u16string_view name) {
    for (const CliCommand& command : commands)
        if (name == fromUtf8(command.name))
            return &command;
    return nullptr;
}

// The folder as the system writes paths: with backslashes on Windows.
std::u16string shownPath(const std::filesystem::path& path) {
    return replaced(platform::textOf(path), u'/',
                    char16_t(std::filesystem::path::preferred_separator));
}

std::u16string globalUsage(const CliContext& context, std::span<const CliCommand> commands) {
    std::u16string text = u"Användning: brumlis-cli [--data MAPP] KOMMANDO [FLAGGOR]\n"
                          u"            brumlis-cli KOMMANDO --hjälp\n"
                          u"\n"
                          u"Kommandon:\n";
    for (const CliCommand& command : commands) {
        std::u16string name = fromUtf8(command.name);
        name.resize(std::max<std::size_t>(name.size(), 10), u' ');
        text += u"  " + name + u' ' + fromUtf8(command.summary) + u'\n';
    }
    text += u"\n"
            u"Flaggor före kommandot:\n"
            u"  --data MAPP    mappen som innehåller text/ och sound/; utan den den första\n"
            u"                 av arbetskatalogen, ~/.local/share/brumlis och\n"
            u"                 /usr/share/brumlis som innehåller text/\n"
            u"  --hjälp, -h    visa den här hjälpen\n"
            u"  --version      visa versionen\n"
            u"\n"
            u"En flagga med å, ä eller ö kan också skrivas utan dem: --hjalp, --fro, --anda,\n"
            u"--ersatt, --rost, --sprak.\n"
            u"\n";
    return text + dataDirLine(context);
}

int addHelp(CommandLine& parser) {
    return parser.add(optionNames({"h", "hjälp", "hjalp", "help"}));
}

// Finishes a parse: a usage error or --hjälp gives the status to exit with.
std::optional<CliStatus> settleParse(const CommandLine& parser, bool parsed, int help,
                                     CliContext& context, const std::u16string& usage,
                                     bool positionalAllowed) {
    auto usageError = [&](const std::u16string& reason) {
        return std::optional<CliStatus>(reportUsageError(context, reason, usage));
    };
    if (!parsed)
        return usageError(parser.unknownName() == u"data" ? u"--data står före kommandot"
                                                          : parser.error());
    if (parser.isSet(help)) {
        context.out.write(usage);
        return CliOk;
    }
    if (!positionalAllowed && !parser.positional().empty())
        return usageError(u"oväntat argument: " + parser.positional().front());
    return std::nullopt;
}

// A string in JSON, as QJsonDocument has always written the lines of generate --json: the
// quote, the backslash and the control characters escaped, everything else as it is.
std::string jsonString(std::u16string_view text) {
    static constexpr char Hex[] = "0123456789abcdef";
    std::string out = "\"";
    for (const char c : toUtf8(text)) {
        const auto u = static_cast<unsigned char>(c);
        switch (c) {
        case '"':
            out += "\\\"";
            break;
        case '\\':
            out += "\\\\";
            break;
        case '\b':
            out += "\\b";
            break;
        case '\f':
            out += "\\f";
            break;
        case '\n':
            out += "\\n";
            break;
        case '\r':
            out += "\\r";
            break;
        case '\t':
            out += "\\t";
            break;
        default:
            if (u < 0x20) {
                out += "\\u00";
                out += Hex[u >> 4];
                out += Hex[u & 0xF];
            } else {
                out += c;
            }
        }
    }
    return out + '"';
}

std::string jsonLine(const SentenceBuffer& buffer) {
    std::string slots;
    for (int k = 0; k < buffer.SlotsUsed; ++k) {
        if (k > 0)
            slots += ',';
        slots += "{\"text\":" + jsonString(buffer.WordText(k)) +
                 ",\"sound\":" + jsonString(buffer.SoundFile(k)) + '}';
    }
    return "{\"template\":" + toUtf8(number(buffer.TemplateNo)) + ",\"slots\":[" + slots + "]}";
}

// Prints each word as it is shown, so the terminal follows the voice. The words of the
// shape's slots are separated by single blanks, like `generate` prints them. A write that
// fails is kept, to be thrown once the loop has been left.
class StreamView final : public SentenceView {
public:
    explicit StreamView(Output& out)
        : m_out(out) {}

    void beginSentence(int slotsUsed) { m_slotsUsed = slotsUsed; }
    void sentenceStarted() override {}
    void wordShown(int slot, const std::u16string& word) override {
        if (slot >= m_slotsUsed || failed)
            return;
        try {
            m_out.write(slot > 0 ? u' ' + word : word);
            m_out.flush();
        } catch (const WriteFailed& failure) {
            failed = failure;
            if (onFailure)
                onFailure();
        }
    }
    void sentenceEnded() override {
        if (onEnded)
            onEnded();
    }

    std::optional<WriteFailed> failed;
    std::function<void()> onFailure;
    std::function<void()> onEnded;

private:
    Output& m_out;
    int m_slotsUsed = 0;
};

std::u16string sentenceUsage(const char* command, bool json, const CliContext& context) {
    std::u16string text = u"Användning: brumlis-cli [--data MAPP] " + fromUtf8(command) +
                          u" [--antal N] [--frö S] [--mall K]" + (json ? u" [--json]" : u"") +
                          u"\n"
                          u"\n"
                          u"  --antal N      antal meningar (standard: 1)\n"
                          u"  --frö S        startvärde för slumpen: samma värde ger samma "
                          u"meningar (också --fro)\n"
                          u"  --mall K       använd alltid mall K (1 till 11, eller form K i "
                          u"mallar.txt)\n";
    if (json)
        text += u"  --json         ett JSON-objekt per mening\n";
    text += u"  --hjälp        visa den här hjälpen\n\n";
    return text + dataDirLine(context);
}

// A run of generate or speak: the sentence options they share, and --json for generate.
struct SentenceRun {
    SentenceOptions sentence{true};
    bool json = false;
};

// On a usage error or --hjälp, the status to exit with.
std::optional<CliStatus> parseSentenceRun(SentenceRun& run, const char* command, bool json,
                                          const std::vector<std::u16string>& args,
                                          CliContext& context) {
    const std::u16string usage = sentenceUsage(command, json, context);
    CommandLine parser;
    run.sentence.addTo(parser);
    const int jsonOption = parser.add({u"json"});
    if (const auto status = parseCommandLine(parser, args, context, usage))
        return status;
    if (const auto status = run.sentence.read(parser, context, usage))
        return status;
    if (parser.isSet(jsonOption)) {
        if (!json)
            return reportUsageError(context, u"--json gäller bara generate", usage);
        run.json = true;
    }
    return std::nullopt;
}

CliStatus runGenerate(const std::vector<std::u16string>& args, CliContext& context) {
    SentenceRun run;
    if (const auto status = parseSentenceRun(run, "generate", true, args, context))
        return *status;
    SentenceSource sentences(run.sentence, context);
    bool allPicked = true;
    SentenceBuffer buffer;
    for (long long n = 0; n < run.sentence.count(); ++n) {
        allPicked &= sentences.next(buffer);
        if (run.json)
            context.out.write(std::string_view(jsonLine(buffer) + '\n'));
        else
            context.out.write(sentenceLine(buffer) + u'\n');
        // Each sentence reaches the reader at once, and a reader that has gone away
        // stops the loop here rather than after the whole count.
        context.out.flush();
    }
    return allPicked ? CliOk : CliIncomplete;
}

// Speaks through the same controller as the window, on a loop of its own, so each word is
// printed when the window would show it.
CliStatus runSpeak(const std::vector<std::u16string>& args, CliContext& context) {
    SentenceRun run;
    if (const auto status = parseSentenceRun(run, "speak", false, args, context))
        return *status;
    SentenceSource sentences(run.sentence, context);
    StreamView view(context.out);
    RunLoop loop;
    SpeechController speech(view, context.players ? context.players(context.dataDir) : nullptr,
                            loop);
    view.onEnded = [&] { loop.quit(); };
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
        loop.run();
        if (view.failed)
            throw *view.failed;
        context.out.write(u"\n");
        context.out.flush();
    }
    return allPicked ? CliOk : CliIncomplete;
}

CliStatus dispatch(const std::vector<std::u16string>& args, Output& out, Output& err,
                   const PlayerFactory& players, std::span<const CliCommand> commands) {
    CommandLine parser;
    parser.stopAtFirstPositional();
    const int data = parser.add({u"data"}, u"MAPP");
    const int version = parser.add({u"version"});
    const int help = addHelp(parser);
    const bool parsed = parser.parse(args);

    // The folder is looked up before the arguments are judged, so that the help names
    // the folder that would be read.
    CliContext context{
        out, err,
        findDataDir(parsed ? platform::pathOf(parser.value(data)) : std::filesystem::path()),
        players};
    const std::u16string usage = globalUsage(context, commands);
    if (const auto status = settleParse(parser, parsed, help, context, usage, true))
        return *status;
    if (parser.isSet(version)) {
        out.write("brumlis-cli " + std::string(VersionRecord) + '\n');
        return CliOk;
    }

    auto usageError = [&](const std::u16string& reason) {
        return reportUsageError(context, reason, usage);
    };
    std::error_code ignored;
    if (parser.isSet(data) &&
        !std::filesystem::is_directory(platform::pathOf(parser.value(data)), ignored))
        return usageError(u"mappen finns inte: " + parser.value(data));
    std::vector<std::u16string> rest = parser.positional();
    if (rest.empty())
        return usageError(u"inget kommando angivet");
    const std::u16string name = rest.front();
    rest.erase(rest.begin());
    const CliCommand* command = findCommand(commands, name);
    if (!command)
        return usageError(u"okänt kommando: " + name);
    return command->run(rest, context);
}

} // namespace

std::span<const CliCommand> sentenceCommands() {
    return SentenceCommands;
}

std::vector<std::u16string> optionNames(std::initializer_list<const char*> names) {
    std::vector<std::u16string> list;
    for (const char* name : names)
        list.push_back(fromUtf8(name));
    return list;
}

int addAnywayOption(CommandLine& parser) {
    return parser.add(optionNames({"ändå", "anda"}));
}

std::optional<CliStatus> parseCommandLine(CommandLine& parser,
                                          const std::vector<std::u16string>& args,
                                          CliContext& context, const std::u16string& usage,
                                          bool positionalAllowed) {
    const int help = addHelp(parser);
    const bool parsed = parser.parse(args);
    return settleParse(parser, parsed, help, context, usage, positionalAllowed);
}

CliStatus reportUsageError(CliContext& context, const std::u16string& reason,
                           const std::u16string& usage) {
    context.err.write(u"brumlis-cli: " + reason + u"\n\n" + usage);
    return CliUsageError;
}

std::u16string dataDirLine(const CliContext& context) {
    return u"Datamapp: " + shownPath(context.dataDir) + u'\n';
}

CliStatus runCli(const std::vector<std::u16string>& args, std::FILE* out, std::FILE* err,
                 const PlayerFactory& players, std::span<const CliCommand> commands) {
    Output checkedOut(out);
    Output checkedErr(err);
    try {
        const CliStatus status = dispatch(args, checkedOut, checkedErr, players, commands);
        checkedOut.flush();
        checkedErr.flush();
        return status;
    } catch (const WriteFailed& failure) {
        // stderr may be the stream that failed; then there is nobody left to tell.
        std::fprintf(err, "brumlis-cli: kan inte skriva utdata: %s\n",
                     toUtf8(systemErrorText(failure.error)).c_str());
        std::fflush(err);
        return CliWriteFailed;
    }
}

} // namespace brumlis
