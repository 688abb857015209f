#include "cli.h"

#include "playback/soundplayer.h"
#include "playback/speaker.h"
#include "sentence/composer.h"
#include "sentence/messagesink.h"
#include "sentence/random.h"
#include "sentence/templates.h"
#include "toolcommand.h"

#include <QDir>
#include <QFileInfo>
#include <optional>

namespace brumlis {

namespace {

constexpr char kUsage[] =
    "Användning: brumlis-cli [--data MAPP] generate [--count N] [--seed S] [--template K] "
    "[--json]\n"
    "            brumlis-cli [--data MAPP] speak [--count N] [--seed S] [--template K]\n"
    "            brumlis-cli [--data MAPP] check [--json]\n"
    "            brumlis-cli [--data MAPP] voice [--alla] [--dry-run]\n"
    "            brumlis-cli [--data MAPP] render [--seed S] [--template K] -o FIL.wav\n"
    "                        [--rate R] [--mono]\n"
    "            (brumlis-cli KOMMANDO --help visar ett kommandos egna flaggor)\n"
    "\n"
    "  --data MAPP    mappen som innehåller text/ och sound/ (standard: arbetskatalogen)\n"
    "  --count N      antal meningar (standard: 1)\n"
    "  --seed S       startvärde för slumpen: samma värde ger samma meningar\n"
    "  --template K   använd alltid mall K (1 till 11)\n"
    "  --json         ett JSON-objekt per mening\n"
    "  --help         visa den här hjälpen\n"
    "  --version      visa versionen\n";

void write(std::FILE* stream, const QString& text) {
    const QByteArray utf8 = text.toUtf8();
    std::fwrite(utf8.constData(), 1, std::size_t(utf8.size()), stream);
}

class StreamMessages final : public MessageSink {
public:
    explicit StreamMessages(std::FILE* err)
        : m_err(err) {}
    void show(const QString& message) override {
        write(m_err, message + u'\n');
        std::fflush(m_err);
    }

private:
    std::FILE* m_err;
};

QString jsonString(const QString& text) {
    QString quoted = QStringLiteral("\"");
    for (const QChar c : text) {
        switch (c.unicode()) {
        case u'"':
            quoted += QStringLiteral("\\\"");
            break;
        case u'\\':
            quoted += QStringLiteral("\\\\");
            break;
        case u'\n':
            quoted += QStringLiteral("\\n");
            break;
        case u'\r':
            quoted += QStringLiteral("\\r");
            break;
        case u'\t':
            quoted += QStringLiteral("\\t");
            break;
        default:
            if (c.unicode() < 0x20)
                quoted += QStringLiteral("\\u%1").arg(c.unicode(), 4, 16, QLatin1Char('0'));
            else
                quoted += c;
        }
    }
    return quoted + u'"';
}

int slotCount(const SentenceBuffer& buffer) {
    return Templates[std::size_t(buffer.TemplateNo - 1)].slotCount;
}

QString plainLine(const SentenceBuffer& buffer) {
    QStringList texts;
    for (int k = 0; k < slotCount(buffer); ++k)
        texts << buffer.WordText(k);
    return texts.join(u' ');
}

QString jsonLine(const SentenceBuffer& buffer) {
    QStringList slots;
    for (int k = 0; k < slotCount(buffer); ++k)
        slots << QStringLiteral("{\"text\":%1,\"sound\":%2}")
                     .arg(jsonString(buffer.WordText(k)), jsonString(buffer.SoundFile(k)));
    return QStringLiteral("{\"template\":%1,\"slots\":[%2]}")
        .arg(buffer.TemplateNo)
        .arg(slots.join(u','));
}

// Prints each word as it is shown, so the terminal follows the voice. The words of the
// template's slots are separated by single blanks, like `generate` prints them.
class StreamView final : public SentenceView {
public:
    StreamView(std::FILE* out, int slotsUsed)
        : m_out(out)
        , m_slotsUsed(slotsUsed) {}

    QString caption() const override { return m_caption; }
    void showCaption(const QString& caption) override {
        if (caption.isEmpty()) {
            m_caption.clear();
            m_slot = 0;
            return;
        }
        if (m_slot < m_slotsUsed) {
            QString word = caption.sliced(m_caption.size());
            word.chop(1); // the blank the label puts after every word
            write(m_out, m_slot > 0 ? u' ' + word : word);
            std::fflush(m_out);
        }
        m_caption = caption;
        ++m_slot;
    }
    void setRepeatEnabled(bool) override {}
    void setGenerateEnabled(bool) override {}
    void focusGenerate() override {}

private:
    std::FILE* m_out;
    int m_slotsUsed;
    int m_slot = 0;
    QString m_caption;
};

struct Options {
    QString command;
    QString dataDir;
    long long count = 1;
    std::optional<std::uint64_t> seed;
    int forcedTemplate = 0;
    bool json = false;
};

struct UsageError {
    QString reason;
};

std::optional<long long> parseInteger(const QString& text, long long min, long long max) {
    bool ok = false;
    const long long value = text.toLongLong(&ok);
    if (!ok || value < min || value > max)
        return std::nullopt;
    return value;
}

std::optional<std::uint64_t> parseSeed(const QString& text) {
    bool ok = false;
    if (const qulonglong value = text.toULongLong(&ok); ok)
        return value;
    if (const qlonglong value = text.toLongLong(&ok); ok)
        return std::uint64_t(value);
    return std::nullopt;
}

// Returns the options, or a usage error; --help and --version are handled by the caller.
std::variant<Options, UsageError> parse(const QStringList& args) {
    Options options;
    for (qsizetype i = 0; i < args.size(); ++i) {
        QString arg = args[i];
        std::optional<QString> inlineValue;
        if (arg.startsWith(u"--") && arg.contains(u'=')) {
            inlineValue = arg.sliced(arg.indexOf(u'=') + 1);
            arg.truncate(arg.indexOf(u'='));
        }
        auto value = [&]() -> std::optional<QString> {
            if (inlineValue)
                return inlineValue;
            if (i + 1 < args.size())
                return args[++i];
            return std::nullopt;
        };
        auto needsValue = [&](const QString& name) {
            return UsageError{QStringLiteral("%1 kräver ett värde").arg(name)};
        };

        if (arg == u"--data") {
            const auto v = value();
            if (!v)
                return needsValue(arg);
            options.dataDir = *v;
        } else if (arg == u"--count") {
            const auto v = value();
            if (!v)
                return needsValue(arg);
            const auto n = parseInteger(*v, 0, 1'000'000'000);
            if (!n)
                return UsageError{QStringLiteral("ogiltigt antal: %1").arg(*v)};
            options.count = *n;
        } else if (arg == u"--seed") {
            const auto v = value();
            if (!v)
                return needsValue(arg);
            options.seed = parseSeed(*v);
            if (!options.seed)
                return UsageError{QStringLiteral("ogiltigt startvärde: %1").arg(*v)};
        } else if (arg == u"--template") {
            const auto v = value();
            if (!v)
                return needsValue(arg);
            const auto k = parseInteger(*v, 1, TemplateCount);
            if (!k)
                return UsageError{QStringLiteral("mallen måste vara 1 till 11: %1").arg(*v)};
            options.forcedTemplate = int(*k);
        } else if (arg == u"--json" && !inlineValue) {
            options.json = true;
        } else if (arg.startsWith(u'-') && arg.size() > 1) {
            return UsageError{QStringLiteral("okänd flagga: %1").arg(args[i])};
        } else if (options.command.isEmpty()) {
            if (arg != u"generate" && arg != u"speak")
                return UsageError{QStringLiteral("okänt kommando: %1").arg(arg)};
            options.command = arg;
        } else {
            return UsageError{QStringLiteral("oväntat argument: %1").arg(arg)};
        }
    }
    if (options.command.isEmpty())
        return UsageError{QStringLiteral("inget kommando angivet")};
    if (options.json && options.command != u"generate")
        return UsageError{QStringLiteral("--json gäller bara generate")};
    if (!options.dataDir.isEmpty() && !QFileInfo(options.dataDir).isDir())
        return UsageError{QStringLiteral("mappen finns inte: %1").arg(options.dataDir)};
    return options;
}

} // namespace

int runCli(const QStringList& args, std::FILE* out, std::FILE* err, const PlayerFactory& players) {
    // check, voice and render take their own options, --help included, after their name.
    QString toolData;
    for (qsizetype i = 0; i < args.size(); ++i) {
        if (args[i] == u"--data" && i + 1 < args.size())
            toolData = args[++i];
        else if (args[i].startsWith(u"--data="))
            toolData = args[i].sliced(7);
        else if (isToolCommand(args[i]))
            return runToolCommand(args[i], toolData, args.mid(i + 1), out, err);
        else
            break;
    }
    for (const QString& arg : args) {
        if (arg == u"--help" || arg == u"-h") {
            write(out, QString::fromUtf8(kUsage));
            return 0;
        }
        if (arg == u"--version") {
            write(out, QStringLiteral("brumlis-cli 1.00.0007\n"));
            return 0;
        }
    }

    const auto parsed = parse(args);
    if (const auto* error = std::get_if<UsageError>(&parsed)) {
        write(err,
              QStringLiteral("brumlis-cli: %1\n\n").arg(error->reason) + QString::fromUtf8(kUsage));
        return 2;
    }
    const Options& options = std::get<Options>(parsed);

    StreamMessages messages(err);
    MersenneRandom random;
    SystemClock clock;
    if (options.seed)
        random.seed(*options.seed);
    SentenceComposer composer(options.dataDir, messages, random, options.seed ? nullptr : &clock);

    std::unique_ptr<SoundPlayer> player;
    if (options.command == u"speak")
        player = players(options.dataDir.isEmpty() ? QDir::currentPath() : options.dataDir);

    bool allPicked = true;
    SentenceBuffer buffer;
    for (long long n = 0; n < options.count; ++n) {
        allPicked &= composer.compose(buffer, options.forcedTemplate);
        if (player) {
            StreamView view(out, slotCount(buffer));
            SpeakSentence(buffer, view, *player);
            write(out, QStringLiteral("\n"));
        } else {
            write(out, (options.json ? jsonLine(buffer) : plainLine(buffer)) + u'\n');
        }
        std::fflush(out);
    }
    return allPicked ? 0 : 1;
}

} // namespace brumlis
