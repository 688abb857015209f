#include "brumlis/qtbridge/text.h"
#include "cli.h"
#include "cli/capture.h"
#include "qtcli.h"
#include "support/fakes.h"
#include "support/tempdir.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace brumlis {
namespace {

struct CliRun {
    int code = -1;
    QString out;
    QString err;
};

CliRun run(const QStringList& args, const PlayerFactory& players = {}) {
    test::Capture out, err;
    CliRun result;
    result.code = runCli(args, out.stream(), err.stream(), players);
    result.out = out.text();
    result.err = err.text();
    return result;
}

class Cli : public testing::Test {
protected:
    void SetUp() override {
        for (const char* wordClass : {"namn", "adj", "adj_neu", "färg", "sub", "sub_neu",
                                      "sub_reale", "verb_pre", "verb_per", "prep", "plats"})
            data.write(QString::fromUtf8("text/%1.txt").arg(QString::fromUtf8(wordClass)),
                       QByteArray(wordClass) + "1\n" + wordClass + "2\n");
    }
    QStringList withData(QStringList args) const {
        return QStringList{"--data", data.path()} + args;
    }

    test::TempDir data;
};

TEST_F(Cli, UsageErrorsExitWithTwoAndAReason) {
    struct Case {
        QStringList args;
        const char* reason;
    } cases[] = {
        {{}, "inget kommando"},
        {{"say"}, "okänt kommando: say"},
        {{"generate", "--colour"}, "okänd flagga: --colour"},
        {{"generate", "--antal"}, "--antal kräver ett värde"},
        {{"generate", "--fro"}, "--fro kräver ett värde"},
        {{"generate", "--antal", "x"}, "ogiltigt antal: x"},
        {{"generate", "--count", "-1"}, "ogiltigt antal: -1"},
        {{"generate", "--seed", "1.5"}, "ogiltigt startvärde: 1.5"},
        {{"generate", "--template", "0"}, "mallen måste vara 1 till 11: 0"},
        {{"generate", "--template", "12"}, "mallen måste vara 1 till 11: 12"},
        {{"generate", "extra"}, "oväntat argument: extra"},
        {{"speak", "--json"}, "--json gäller bara generate"},
        {{"--data", "/no/such/folder", "generate"}, "mappen finns inte: /no/such/folder"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const CliRun r = run(c.args);
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(r.out.isEmpty());
        const QString firstLine = r.err.section(u'\n', 0, 0);
        EXPECT_TRUE(firstLine.startsWith("brumlis-cli: ") &&
                    firstLine.contains(QString::fromUtf8(c.reason)))
            << firstLine.toStdString();
        EXPECT_TRUE(r.err.contains("Användning:"));
    }
}

TEST_F(Cli, HelpAndVersion) {
    const CliRun help = run({"generate", "--help"});
    EXPECT_EQ(help.code, 0);
    EXPECT_TRUE(help.out.startsWith("Användning:"));
    const CliRun version = run({"--version"});
    EXPECT_EQ(version.code, 0);
    EXPECT_EQ(version.out, "brumlis-cli 1.00.0007\n");
}

// Every option answers to its Swedish name, to that name typed in ASCII, and to the English
// name it had before, which scripts may still use.
TEST_F(Cli, EachOptionAnswersToItsSwedishNameItsAsciiSpellingAndItsOldName) {
    const std::vector<QStringList> spellings[] = {
        {{"generate", "--antal", "4", "--frö", "9", "--mall", "6"},
         {"generate", "--antal", "4", "--fro", "9", "--mall", "6"},
         {"generate", "--count", "4", "--seed", "9", "--template", "6"},
         {"generate", "--antal=4", "--fro=9", "--mall=6"}},
        {{"--hjälp"}, {"--hjalp"}, {"--help"}, {"-h"}},
        {{"install", "--hjälp"}, {"install", "--hjalp"}, {"install", "-h"}},
    };
    for (const std::vector<QStringList>& same : spellings) {
        const CliRun first = run(withData(same.front()));
        EXPECT_EQ(first.code, 0) << first.err.toStdString();
        for (const QStringList& args : same) {
            SCOPED_TRACE(args.join(u' ').toStdString());
            const CliRun r = run(withData(args));
            EXPECT_EQ(r.code, first.code);
            EXPECT_EQ(r.out, first.out);
        }
    }
    // The help names each option once, in Swedish, and tells its ASCII spelling.
    const QString help = run({"install", "--hjälp"}).out;
    EXPECT_TRUE(help.contains("--ersätt") && help.contains("--ersatt") && help.contains("--anda"))
        << help.toStdString();
    EXPECT_FALSE(help.contains("--replace"));
}

TEST_F(Cli, SameSeedSameSentencesDifferentSeedOthers) {
    const CliRun a = run(withData({"generate", "--count", "20", "--seed", "5"}));
    const CliRun b = run(withData({"generate", "--seed=5", "--count=20"}));
    const CliRun c = run(withData({"generate", "--count", "20", "--seed", "6"}));
    EXPECT_EQ(a.code, 0);
    EXPECT_EQ(a.out, b.out);
    EXPECT_NE(a.out, c.out);
    EXPECT_EQ(a.out.count(u'\n'), 20);
}

TEST_F(Cli, ForcedTemplateAndJsonShape) {
    const CliRun r = run(withData({"generate", "--template", "5", "--json", "--seed", "1"}));
    ASSERT_EQ(r.code, 0);
    EXPECT_TRUE(
        QRegularExpression(
            QString::fromUtf8(
                R"(^\{"template":5,"slots":\[\{"text":"namn[12]","sound":"sound/namn[12]\.wav"\},)"
                R"(\{"text":"är","sound":"sound/är\.wav"\},)"
                R"(\{"text":"prep[12]","sound":"sound/prep[12]\.wav"\},)"
                R"(\{"text":"plats[12]","sound":"sound/plats[12]\.wav"\}\]\}\n$)"))
            .match(r.out)
            .hasMatch())
        << r.out.toStdString();
}

// With a mallar.txt, --template counts its shape lines, a faulty one too, and a faulty
// file is told on stderr with exit 1 while the sentence is still made.
TEST_F(Cli, TheFoldersOwnShapesAreNumberedByTheirLines) {
    data.write("mallar.txt", "# tre former\n[namn] \"och\" [namn]\n[adj\n\"hej\" [plats]\n");
    const CliRun third = run(withData({"generate", "--template", "3", "--json", "--seed", "1"}));
    EXPECT_EQ(third.code, 1) << "the faulty line is told";
    EXPECT_TRUE(
        third.out.startsWith(R"({"template":3,"slots":[{"text":"hej","sound":"sound/hej.wav"})"))
        << third.out.toStdString();
    EXPECT_EQ(third.err, "mallar.txt rad 3: \"[\" stängs aldrig med \"]\"\n");

    const struct {
        const char* number;
        const char* reason;
    } refused[] = {{"2", "mall 2 kan inte användas: mallar.txt rad 3: "},
                   {"4", "mallen måste vara 1 till 3: 4"}};
    for (const auto& c : refused) {
        const CliRun r = run(withData({"generate", "--template", c.number}));
        EXPECT_EQ(r.code, 2) << c.number;
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.reason))) << r.err.toStdString();
    }
}

TEST_F(Cli, JsonEscapesWhatWordListsMayHold) {
    data.write("text/namn.txt", QByteArray("a\\b\t\x01\n"));
    const CliRun r = run(withData({"generate", "--template", "5", "--json"}));
    EXPECT_TRUE(r.out.contains(R"({"text":"a\\b\t\u0001","sound":"sound/a\\b\t\u0001.wav"})"))
        << r.out.toStdString();
}

TEST_F(Cli, FailedPickPrintsTheSentenceAndExitsWithOne) {
    QFile::remove(data.filePath("text/prep.txt"));
    const CliRun r = run(withData({"generate", "--template", "5", "--seed", "2"}));
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, "text/prep.txt existerar inte\n");
    EXPECT_TRUE(
        QRegularExpression(QString::fromUtf8("^namn[12] är  plats[12]\n$")).match(r.out).hasMatch())
        << r.out.toStdString();
}

// Hands the CLI a player that outlives it.
class ForwardingPlayer final : public SoundPlayer {
public:
    explicit ForwardingPlayer(test::FakePlayer& target, std::function<void()> spoken)
        : m_target(target)
        , m_spoken(std::move(spoken)) {
        // What the target reports goes to whoever listens to this one.
        m_target.setListener([this](const PlayerEvent& e) { report(e); });
    }
    ~ForwardingPlayer() override { m_target.setListener({}); }
    void speak(std::uint64_t sentence, const std::vector<Clip>& clips) override {
        m_target.speak(sentence, clips);
        m_spoken();
    }
    void stop() override { m_target.stop(); }

private:
    test::FakePlayer& m_target;
    std::function<void()> m_spoken;
};

/// An unbuffered stream that keeps what is written to it and calls `written` after each
/// write, on the thread that wrote.
class WatchedStream {
public:
    WatchedStream() {
        m_stream = fopencookie(this, "w", {nullptr, &WatchedStream::write, nullptr, nullptr});
        std::setvbuf(m_stream, nullptr, _IONBF, 0);
    }
    ~WatchedStream() { std::fclose(m_stream); }
    WatchedStream(const WatchedStream&) = delete;
    WatchedStream& operator=(const WatchedStream&) = delete;

    std::FILE* stream() const { return m_stream; }
    QString text() const { return QString::fromStdString(m_text); }
    std::function<void()> written;

private:
    static ssize_t write(void* cookie, const char* bytes, std::size_t size) {
        auto* self = static_cast<WatchedStream*>(cookie);
        self->m_text.append(bytes, size);
        if (self->written)
            self->written();
        return ssize_t(size);
    }
    std::FILE* m_stream;
    std::string m_text;
};

TEST_F(Cli, SpeakPrintsEachWordWhenItsClipIsHeard) {
    WatchedStream out;
    test::Capture err;
    test::FakePlayer player;
    player.hearAtOnce = false;
    std::vector<QString> printedBeforeClip;
    int playersMade = 0;
    // Clip 0 is heard when the sentence is spoken, and each next one when the word before it
    // has been printed; the slots without words (4 to 14) and the end come after the fourth.
    const auto hearNext = [&] {
        printedBeforeClip.push_back(out.text());
        const int clip = int(printedBeforeClip.size()) - 1;
        if (clip < 4) {
            player.hear(clip);
        } else if (clip == 4) {
            for (int k = 4; k < 15; ++k)
                player.hear(k);
            player.allHeard();
        }
    };
    out.written = hearNext;
    const int code = runCli(withData({"speak", "--template", "6", "--seed", "9"}), out.stream(),
                            err.stream(), [&](const std::filesystem::path& dataDir) {
                                EXPECT_EQ(qtPath(dataDir), data.path());
                                ++playersMade;
                                return std::make_unique<ForwardingPlayer>(player, hearNext);
                            });
    EXPECT_EQ(code, 0) << err.text().toStdString();
    // One player for the whole run, made through the factory it was given.
    ASSERT_EQ(playersMade, 1);
    ASSERT_EQ(player.spoken.size(), 1u);
    const QStringList words = out.text().trimmed().split(u' ');
    ASSERT_EQ(words.size(), 4);
    ASSERT_GE(printedBeforeClip.size(), 4u);
    for (int i = 0; i < 4; ++i) {
        EXPECT_FALSE(printedBeforeClip[std::size_t(i)].contains(words[i]))
            << "printed early: " << i;
        EXPECT_EQ(qt(player.spoken[0][std::size_t(i)]), "sound/" + words[i] + ".wav");
    }
    for (int i = 4; i < 15; ++i)
        EXPECT_EQ(player.spoken[0][std::size_t(i)], u"");
    EXPECT_TRUE(out.text().endsWith(words[3] + "\n"));
}

} // namespace
} // namespace brumlis
