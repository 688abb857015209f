#include "cli.h"
#include "cli/capture.h"
#include "qtcli.h"
#include "support/levelclip.h"
#include "support/tempdir.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <QRegularExpression>
#include <QSet>
#include <QtEndian>
#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <numbers>
#include <sndfile.h>
#include <sys/resource.h>

namespace brumlis {
namespace {

struct ToolRun {
    int code = -1;
    QByteArray out;
    QString err;
    QJsonObject json() const { return QJsonDocument::fromJson(out).object(); }
};

ToolRun run(const QString& data, const QStringList& args) {
    test::Capture out, err;
    ToolRun result;
    result.code =
        runCli(QStringList{QStringLiteral("--data"), data} + args, out.stream(), err.stream(), {});
    result.out = out.bytes();
    result.err = err.text();
    return result;
}

QByteArray readFile(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

// A tone, not a constant level: loudness weighting filters out a constant level entirely.
void writeTone(const QString& path, double amplitude, double seconds = 0.5) {
    SF_INFO info{};
    info.samplerate = 8000;
    info.channels = 1;
    info.format = SF_FORMAT_WAV | SF_FORMAT_PCM_16;
    SNDFILE* file = sf_open(QFile::encodeName(path).constData(), SFM_WRITE, &info);
    ASSERT_TRUE(file) << path.toStdString();
    std::vector<float> samples(std::size_t(8000 * seconds));
    for (std::size_t i = 0; i < samples.size(); ++i)
        samples[i] = float(amplitude * std::sin(2 * std::numbers::pi * 500 * double(i) / 8000));
    sf_writef_float(file, samples.data(), sf_count_t(samples.size()));
    sf_close(file);
}

const char* const FixedPhraseFiles[] = {"tycker_att", "är",     "är_ett",  "är_en",
                                        "har",        "har_en", "har_ett", "som"};

// One word per list, each with its own recording, unless a test says otherwise.
struct Folder {
    test::TempDir dir;
    void list(const char* wordClass, const QByteArray& bytes) const {
        dir.write(QStringLiteral("text/%1.txt").arg(QString::fromUtf8(wordClass)), bytes);
    }
    QString sound(const QString& name) const {
        return dir.filePath(QStringLiteral("sound/") + name);
    }
    void standardLists() const {
        dir.mkdir(QStringLiteral("sound"));
        list("namn", "Kalle\nLisa\n");
        list("adj", "glad\r\n");
        list("adj_neu", "glatt");
        list("färg", "röd");
        list("sub", "apa");
        list("sub_neu", "bord");
        list("sub_reale", "bil");
        list("verb_pre", "springer");
        list("verb_per", "sprungit");
        list("prep", "på");
        list("plats", "hemma");
    }
};

// One data folder with every kind of problem once: check names each exactly once.
TEST(Check, NamesEachProblemExactlyOnce) {
    Folder f;
    f.standardLists();
    QFile::remove(f.dir.filePath(QStringLiteral("text/adj_neu.txt")));
    f.list("färg", "r\xF6\x64\n"); // Windows-1252
    for (const char* name : FixedPhraseFiles)
        writeTone(f.sound(QString::fromUtf8(name) + QStringLiteral(".wav")), 0.1);
    for (const char* name : {"Kalle", "glad", "röd", "bil", "springer", "sprungit", "på", "gammal"})
        writeTone(f.sound(QString::fromUtf8(name) + QStringLiteral(".wav")), 0.1);
    writeTone(f.sound(QStringLiteral("lisa.wav")), 0.1); // found only by case
    writeTone(f.sound(QStringLiteral("hemma.wav")), 0.1 * std::pow(10.0, 10.0 / 20)); // 10 LU up
    f.dir.write(QStringLiteral("sound/bord.wav"), "RIFF, but not really"); // not playable
    // "apa" has no recording; "gammal" is used by no word.

    const ToolRun r = run(f.dir.path(), {QStringLiteral("check"), QStringLiteral("--json")});
    EXPECT_EQ(r.code, 1) << r.err.toStdString();
    const QJsonObject report = r.json();
    ASSERT_FALSE(report.isEmpty()) << r.out.toStdString();
    EXPECT_FALSE(report[QStringLiteral("speakable")].toBool());

    QMultiMap<QString, QString> named; // kind -> subject
    for (const QJsonValue problem : report[QStringLiteral("problems")].toArray())
        named.insert(problem[QStringLiteral("kind")].toString(),
                     problem[QStringLiteral("subject")].toString());
    const QMultiMap<QString, QString> expected{
        {QStringLiteral("list-unreadable"), QStringLiteral("text/adj_neu.txt")},
        {QStringLiteral("encoding"), QStringLiteral("text/färg.txt")},
        {QStringLiteral("missing-recording"), QStringLiteral("apa")},
        {QStringLiteral("found-by-case"), QStringLiteral("Lisa")},
        {QStringLiteral("unplayable"), QStringLiteral("bord")},
        {QStringLiteral("orphan"), QStringLiteral("sound/gammal.wav")},
        {QStringLiteral("loudness"), QStringLiteral("sound/hemma.wav")},
    };
    EXPECT_EQ(named, expected);

    // The details behind them.
    QMap<QString, QString> states;
    for (const QJsonValue word : report[QStringLiteral("words")].toArray()) {
        const QString text = word[QStringLiteral("text")].toString();
        states[text] = word[QStringLiteral("state")].toString();
        if (text == u"bord") {
            EXPECT_EQ(word[QStringLiteral("problem")].toString(), QStringLiteral("not-decodable"));
        } else if (text == u"Lisa") {
            EXPECT_EQ(word[QStringLiteral("found")].toString(), QStringLiteral("case"));
        }
    }
    const QMap<QString, QString> expectedStates{
        {QStringLiteral("apa"), QStringLiteral("missing")},
        {QStringLiteral("bord"), QStringLiteral("unplayable")},
        {QStringLiteral("Lisa"), QStringLiteral("loose-name")},
        {QStringLiteral("Kalle"), QStringLiteral("recorded")},
    };
    for (auto it = expectedStates.cbegin(); it != expectedStates.cend(); ++it)
        EXPECT_EQ(states.value(it.key()), it.value()) << it.key().toStdString();
    for (const QJsonValue list : report[QStringLiteral("lists")].toArray())
        if (list[QStringLiteral("class")].toString() == u"adj") {
            EXPECT_EQ(list[QStringLiteral("lineEnds")].toString(), QStringLiteral("crlf"));
        }
    for (const QJsonValue list : report[QStringLiteral("lists")].toArray())
        if (list[QStringLiteral("class")].toString() == u"färg") {
            EXPECT_EQ(list[QStringLiteral("encoding")].toString(), QStringLiteral("windows-1252"));
        }
    EXPECT_NEAR(report[QStringLiteral("medianLoudnessLufs")].toDouble(), -23.0, 1.5);
    EXPECT_FALSE(report.contains(QStringLiteral("shapes"))) << "the folder has no mallar.txt";

    // The table for people says the same, with its figures as Swedes write them.
    const ToolRun table = run(f.dir.path(), {QStringLiteral("check")});
    EXPECT_EQ(table.code, 1);
    const QString text = QString::fromUtf8(table.out);
    EXPECT_TRUE(text.contains(QStringLiteral("fel: \"apa\" saknar inspelning")));
    EXPECT_TRUE(QRegularExpression(QStringLiteral("sound/hemma.wav ligger \\d+,\\d LU från mappens "
                                                  "median \\(-\\d+,\\d LUFS\\)\n"))
                    .match(text)
                    .hasMatch())
        << text.toStdString();
    EXPECT_TRUE(text.contains(QStringLiteral("(0 gjorda av voice); 3 fel, 4 varningar.\n")))
        << text.toStdString();
}

// What check says of a folder's own shapes: each problem named once by kind and subject,
// and the status it deserves; a list that no shape uses is only a warning.
TEST(Check, NamesWhatTheShapesOfMallarLack) {
    struct Case {
        const char* name;
        QByteArray shapes;    // mallar.txt
        QStringList problems; // "kind: subject"
        int code;
        const char* namnList = "text/namn.txt";
    };
    const Case cases[] = {
        {"clean", "# a comment\n2: [namn] \"är\" ([plats] | \"på\" [plats])\n", {}, 0},
        {"a list found only in another case, and so used",
         "[namn] \"är\" \"på\" [plats]\n",
         {"found-by-case: text/namn.txt"},
         0,
         "text/NAMN.TXT"},
        {"a faulty line",
         "[namn] \"är\" \"på\" [plats]\n[namn \"är\"\n",
         {"shape-fault: mallar.txt rad 2"},
         1},
        {"a class without a list",
         "[namn] \"är\" (\"på\" [plats] | [djur])\n",
         {"class-without-list: text/djur.txt"},
         1},
        {"a phrase without a recording",
         "[namn] \"är\" \"på\" [plats]\n[namn] \"sover\" [plats]\n",
         {"phrase-without-recording: sover"},
         1},
        {"a list no shape uses",
         "[namn] \"är\" \"på\"\n",
         {"unused-list: text/plats.txt", "orphan: sound/hemma.wav"},
         0},
        {"all at once",
         "# line 1\n[namn] \"är\" [djur]\n[namn] \"sover\"\n(\n",
         {"shape-fault: mallar.txt rad 4", "class-without-list: text/djur.txt",
          "phrase-without-recording: sover", "unused-list: text/plats.txt",
          "orphan: sound/hemma.wav", "orphan: sound/på.wav"},
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Folder f;
        f.dir.mkdir(QStringLiteral("sound"));
        f.dir.write(QString::fromUtf8(c.namnList), "Kalle\n");
        f.list("plats", "hemma\n");
        for (const char* name : {"Kalle", "hemma", "är", "på"})
            writeTone(f.sound(QString::fromUtf8(name) + QStringLiteral(".wav")), 0.1);
        f.dir.write(QStringLiteral("mallar.txt"), c.shapes);

        const ToolRun r = run(f.dir.path(), {QStringLiteral("check"), QStringLiteral("--json")});
        EXPECT_EQ(r.code, c.code) << r.out.toStdString();
        QStringList named;
        for (const QJsonValue problem : r.json()[QStringLiteral("problems")].toArray())
            named << problem[QStringLiteral("kind")].toString() + QStringLiteral(": ") +
                         problem[QStringLiteral("subject")].toString();
        QStringList expected = c.problems;
        named.sort();
        expected.sort();
        EXPECT_EQ(named.join(u'\n').toStdString(), expected.join(u'\n').toStdString());
        EXPECT_TRUE(r.json()[QStringLiteral("shapes")].isObject());
    }

    // The last case in full: the numbers as numbers, and the table for people.
    const Case& all = cases[std::size(cases) - 1];
    Folder f;
    f.list("namn", "Kalle\n");
    f.list("plats", "hemma\n");
    f.dir.write(QStringLiteral("mallar.txt"), all.shapes);
    const QJsonObject shapes =
        run(f.dir.path(), {QStringLiteral("check"), QStringLiteral("--json")})
            .json()[QStringLiteral("shapes")]
            .toObject();
    EXPECT_EQ(shapes[QStringLiteral("shapes")], QJsonValue(2));
    const QJsonArray faults = shapes[QStringLiteral("faults")].toArray();
    ASSERT_EQ(faults.size(), 1);
    EXPECT_EQ(faults[0][QStringLiteral("line")], QJsonValue(4));
    EXPECT_TRUE(faults[0][QStringLiteral("message")].toString().startsWith(u"mallar.txt rad 4: "));
    EXPECT_EQ(shapes[QStringLiteral("classesWithoutList")].toArray(), QJsonArray{"djur"});
    EXPECT_EQ(shapes[QStringLiteral("unusedLists")].toArray(), QJsonArray{"text/plats.txt"});
    const QString table = QString::fromUtf8(run(f.dir.path(), {QStringLiteral("check")}).out);
    EXPECT_TRUE(table.contains(QStringLiteral("\nfel: mallar.txt rad 4: "))) << table.toStdString();
    EXPECT_TRUE(
        table.contains(QStringLiteral("\nvarning: text/plats.txt används inte av någon mall\n")))
        << table.toStdString();

    // A mallar.txt that cannot be read is an error, even though the built-in shapes stand in.
    Folder unreadable;
    unreadable.dir.mkdir(QStringLiteral("mallar.txt"));
    const ToolRun r =
        run(unreadable.dir.path(), {QStringLiteral("check"), QStringLiteral("--json")});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.json()[QStringLiteral("shapes")][QStringLiteral("status")].toString(),
              QStringLiteral("unreadable"));
    EXPECT_TRUE(r.out.contains("\"kind\": \"shapes-unreadable\"")) << r.out.toStdString();
}

TEST(Check, TheBundledFolderCanBeSpokenEntirely) {
    const ToolRun r =
        run(QStringLiteral(BRUMLIS_DATA), {QStringLiteral("check"), QStringLiteral("--json")});
    EXPECT_EQ(r.code, 0) << r.out.toStdString();
    const QJsonObject report = r.json();
    EXPECT_TRUE(report[QStringLiteral("orphans")].toArray().isEmpty());
    EXPECT_GT(report[QStringLiteral("words")].toArray().size(), 8 + 11 * 10);
}

// The English example folder: every shape can be read and every word said, and its
// sentences are made of its own words and phrases only.
TEST(Examples, TheEnglishFolderIsCompleteAndSpeaksItsShapes) {
    const QString data = QStringLiteral(BRUMLIS_EXAMPLES "/english");
    const ToolRun check = run(data, {QStringLiteral("check"), QStringLiteral("--json")});
    EXPECT_EQ(check.code, 0) << check.out.toStdString();
    const QJsonObject report = check.json();
    EXPECT_EQ(report[QStringLiteral("problems")].toArray(), QJsonArray());
    const int shapes = report[QStringLiteral("shapes")][QStringLiteral("shapes")].toInt();
    EXPECT_GE(shapes, 4);
    QMap<QString, QString> sounds; // word or phrase -> its recording
    for (const QJsonValue word : report[QStringLiteral("words")].toArray())
        sounds.insert(word[QStringLiteral("text")].toString(),
                      word[QStringLiteral("sound")].toString());

    const ToolRun generated =
        run(data, {QStringLiteral("generate"), QStringLiteral("--seed"), QStringLiteral("1"),
                   QStringLiteral("--count"), QStringLiteral("5"), QStringLiteral("--json")});
    EXPECT_EQ(generated.code, 0) << generated.err.toStdString();
    const QList<QByteArray> lines = generated.out.trimmed().split('\n');
    EXPECT_EQ(lines.size(), 5);
    for (const QByteArray& line : lines) {
        const QJsonObject sentence = QJsonDocument::fromJson(line).object();
        const int shape = sentence[QStringLiteral("template")].toInt();
        EXPECT_TRUE(shape >= 1 && shape <= shapes) << line.toStdString();
        const QJsonArray slots = sentence[QStringLiteral("slots")].toArray();
        EXPECT_FALSE(slots.isEmpty());
        for (const QJsonValue slot : slots) {
            const QString text = slot[QStringLiteral("text")].toString();
            EXPECT_TRUE(sounds.contains(text)) << line.toStdString();
            EXPECT_EQ(slot[QStringLiteral("sound")].toString(), sounds.value(text));
        }
    }
}

TEST(Tools, UsageErrorsExitWithTwo) {
    const test::TempDir dir;
    const QStringList cases[] = {
        {"check", "--csv"},
        {"voice", "--all"},
        {"voice", "extra"},
        {"voice", "--röst"},
        {"render"},
        {"render", "-o", "x.wav", "--template", "12"},
        {"render", "-o", "x.wav", "--rate", "10"},
        {"render", "-o", "x.wav", "--seed", "x"},
    };
    for (const QStringList& args : cases) {
        const ToolRun r = run(dir.path(), args);
        EXPECT_EQ(r.code, 2) << args.join(u' ').toStdString();
        EXPECT_TRUE(r.err.contains(QStringLiteral("Användning:"))) << r.err.toStdString();
    }
}

// voice makes exactly what is missing, leaves what exists alone, and check then passes.
TEST(Voice, MakesTheMissingRecordingsOnly) {
    Folder f;
    f.standardLists();
    // Quieter than the -23 LUFS an empty folder gets, so matching them shows.
    writeTone(f.sound(QStringLiteral("Kalle.wav")), 0.03);
    writeTone(f.sound(QStringLiteral("lisa.wav")), 0.06); // "Lisa" is found by case: present
    writeTone(f.sound(QStringLiteral("är.wav")), 0.03);
    const QStringList existing = {QStringLiteral("Kalle.wav"), QStringLiteral("lisa.wav"),
                                  QStringLiteral("är.wav")};
    QList<QByteArray> before;
    for (const QString& name : existing)
        before << readFile(f.sound(name));

    const ToolRun dry = run(f.dir.path(), {QStringLiteral("voice"), QStringLiteral("--dry-run")});
    EXPECT_EQ(dry.code, 0);
    const QStringList listed = QString::fromUtf8(dry.out).split(u'\n', Qt::SkipEmptyParts);
    const QStringList missing = {"tycker att", "är ett",   "är en",    "har", "har en", "har ett",
                                 "som",        "glad",     "glatt",    "röd", "apa",    "bord",
                                 "bil",        "springer", "sprungit", "på",  "hemma"};
    EXPECT_EQ(QSet<QString>(listed.begin(), listed.end()),
              QSet<QString>(missing.begin(), missing.end()));
    EXPECT_EQ(listed.size(), missing.size());
    EXPECT_EQ(QDir(f.sound({})).entryList(QDir::Files).size(), existing.size())
        << "a dry run writes nothing";

    const ToolRun made = run(f.dir.path(), {QStringLiteral("voice")});
    EXPECT_EQ(made.code, 0) << made.err.toStdString();
    EXPECT_EQ(QString::fromUtf8(made.out).count(QStringLiteral("gjorde sound/")), missing.size());
    EXPECT_TRUE(made.out.contains(
        QStringLiteral("\n%1 inspelningar gjorda (").arg(missing.size()).toUtf8()))
        << made.out.toStdString();
    for (qsizetype i = 0; i < existing.size(); ++i)
        EXPECT_EQ(readFile(f.sound(existing[i])), before[i]) << existing[i].toStdString();

    const ToolRun check = run(f.dir.path(), {QStringLiteral("check"), QStringLiteral("--json")});
    EXPECT_EQ(check.code, 0) << check.out.toStdString();
    for (const QJsonValue word : check.json()[QStringLiteral("words")].toArray())
        EXPECT_TRUE(word[QStringLiteral("playable")].toBool())
            << word[QStringLiteral("text")].toString().toStdString();
    // The new recordings took the median of the old: only the one old outlier stands out.
    QStringList loud;
    for (const QJsonValue problem : check.json()[QStringLiteral("problems")].toArray())
        if (problem[QStringLiteral("kind")].toString() == u"loudness")
            loud << problem[QStringLiteral("subject")].toString();
    EXPECT_EQ(loud, QStringList{QStringLiteral("sound/lisa.wav")});
    const ToolRun again = run(f.dir.path(), {QStringLiteral("voice"), QStringLiteral("--dry-run")});
    EXPECT_TRUE(again.out.isEmpty());
}

// voice marks what it makes, so check tells a synthetic voice from a person's; the raw
// takes the studio keeps in tagningar/ are neither recordings nor unused ones.
TEST(Check, TellsVoiceFromRecordedAndLeavesRawTakesOut) {
    Folder f;
    f.standardLists();
    writeTone(f.sound(QStringLiteral("Kalle.wav")), 0.1);
    f.dir.mkdir(QStringLiteral("tagningar/Kalle"));
    f.dir.mkdir(QStringLiteral("tagningar/apa"));
    for (const char* take : {"tagningar/Kalle/1.wav", "tagningar/apa/1.wav", "tagningar/x.wav"})
        writeTone(f.dir.filePath(QString::fromUtf8(take)), 0.1);
    ASSERT_EQ(run(f.dir.path(), {QStringLiteral("voice")}).code, 0);

    const ToolRun r = run(f.dir.path(), {QStringLiteral("check"), QStringLiteral("--json")});
    EXPECT_EQ(r.code, 0) << r.out.toStdString();
    const QJsonObject report = r.json();
    int synthetic = 0;
    for (const QJsonValue word : report[QStringLiteral("words")].toArray()) {
        const bool person = word[QStringLiteral("text")].toString() == u"Kalle";
        EXPECT_EQ(word[QStringLiteral("madeByVoice")].toBool(), !person);
        EXPECT_EQ(word[QStringLiteral("state")].toString(),
                  person ? QStringLiteral("recorded") : QStringLiteral("made-by-voice"));
        synthetic += person ? 0 : 1;
    }
    EXPECT_TRUE(report[QStringLiteral("orphans")].toArray().isEmpty());
    for (const QJsonValue recording : report[QStringLiteral("recordings")].toArray())
        EXPECT_TRUE(recording[QStringLiteral("file")].toString().startsWith(u"sound/"));
    EXPECT_EQ(report[QStringLiteral("recordings")].toArray().size(), synthetic + 1);

    const ToolRun table = run(f.dir.path(), {QStringLiteral("check")});
    EXPECT_TRUE(QString::fromUtf8(table.out).contains(
        QStringLiteral("kan sägas (%1 gjorda av voice)").arg(synthetic)));
}

// The phrases of a folder's own shapes are spoken too, and the count agrees with its noun.
TEST(Voice, MakesTheRecordingsOfTheShapesPhrases) {
    Folder f;
    f.dir.mkdir(QStringLiteral("sound"));
    f.list("namn", "Kalle");
    writeTone(f.sound(QStringLiteral("Kalle.wav")), 0.1);
    f.dir.write(QStringLiteral("mallar.txt"), "[namn] \"hoppar högt\"\n");

    const ToolRun made = run(f.dir.path(), {QStringLiteral("voice")});
    EXPECT_EQ(made.code, 0) << made.err.toStdString();
    const QString out = QString::fromUtf8(made.out);
    EXPECT_TRUE(QRegularExpression(QStringLiteral("^gjorde sound/hoppar_högt.wav\n"
                                                  "1 inspelning gjord \\(-\\d+,\\d LUFS\\), 1 "
                                                  "fanns redan\\.\n$"))
                    .match(out)
                    .hasMatch())
        << out.toStdString();
    const ToolRun check = run(f.dir.path(), {QStringLiteral("check")});
    EXPECT_EQ(check.code, 0);
    EXPECT_TRUE(check.out.endsWith(
        QStringLiteral("2 av 2 ord och fasta fraser kan sägas (1 gjord av voice); 0 fel, 0 "
                       "varningar.\n")
            .toUtf8()))
        << check.out.toStdString();
}

// A voice espeak-ng does not have stops voice before it writes anything; one it has is the
// one that speaks.
TEST(Voice, SpeaksWithTheVoiceAskedForAndNoOther) {
    Folder f;
    f.list("namn", "Kalle");
    f.dir.write(QStringLiteral("mallar.txt"), "[namn]\n");
    const QStringList unknown[] = {
        {"voice", "--röst", "zz"},
        {"voice", "--röst", "../sv"},
        {"voice", "--röst=", "--dry-run"},
    };
    for (const QStringList& args : unknown) {
        SCOPED_TRACE(args.join(u' ').toStdString());
        const ToolRun r = run(f.dir.path(), args);
        EXPECT_EQ(r.code, 2);
        EXPECT_TRUE(
            r.err.startsWith(QStringLiteral("brumlis-cli: espeak-ng har ingen röst som heter \"")))
            << r.err.toStdString();
        EXPECT_TRUE(r.out.isEmpty());
        EXPECT_FALSE(QFileInfo::exists(f.sound({}))) << "sound/ was made";
    }

    // espeak-ng carries some state from one utterance to the next within a process, so
    // each recording is made by a program of its own: the same voice then gives the same
    // bytes, and another voice other bytes.
    auto made = [&](const QStringList& options) {
        QProcess cli;
        cli.start(QStringLiteral(BRUMLIS_CLI),
                  QStringList{QStringLiteral("--data"), f.dir.path(), QStringLiteral("voice"),
                              QStringLiteral("--alla")} +
                      options);
        EXPECT_TRUE(cli.waitForFinished(60000));
        EXPECT_EQ(cli.exitCode(), 0) << cli.readAllStandardError().toStdString();
        return readFile(f.sound(QStringLiteral("Kalle.wav")));
    };
    const QByteArray swedish = made({});
    ASSERT_FALSE(swedish.isEmpty());
    EXPECT_EQ(made({QStringLiteral("--röst"), QStringLiteral("sv")}), swedish);
    const QByteArray english = made({QStringLiteral("--röst"), QStringLiteral("en")});
    EXPECT_FALSE(english.isEmpty());
    EXPECT_NE(english, swedish);
}

TEST(Voice, SkipsWordsThatCannotBeFileNames) {
    Folder f;
    f.standardLists();
    f.list("sub", "apa\nx/y\n..\n");
    const ToolRun dry = run(f.dir.path(), {QStringLiteral("voice"), QStringLiteral("--dry-run")});
    EXPECT_FALSE(dry.out.contains("x/y"));
    EXPECT_FALSE(dry.out.contains("\n..\n"));
    EXPECT_TRUE(dry.err.contains(QStringLiteral("hoppar över \"x/y\"")));
    EXPECT_TRUE(dry.err.contains(QStringLiteral("hoppar över \"..\"")));
}

// Stopped in the middle of writing a recording, voice leaves no half-written one under a
// word's name. The kernel stops it the moment a file it writes grows past a limit far
// below any recording's size (RLIMIT_FSIZE): its first recording is cut there.
TEST(Voice, AnInterruptedRunLeavesNoHalfWrittenFile) {
    test::TempDir dir;
    for (const QString& name : QDir(QStringLiteral(BRUMLIS_DATA "/text")).entryList(QDir::Files))
        dir.write(QStringLiteral("text/") + name,
                  readFile(QStringLiteral(BRUMLIS_DATA "/text/") + name));
    dir.mkdir(QStringLiteral("sound"));
    const QDir sound(dir.filePath(QStringLiteral("sound")));

    constexpr rlim_t Cut = 4096;
    QProcess cli;
    // The speech synthesiser brings in the sound server's client library, which sizes its
    // shared memory by truncating a file: the limit would stop that first.
    dir.write(QStringLiteral("client.conf"), "enable-shm = no\nautospawn = no\n");
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("PULSE_CLIENTCONFIG"), dir.filePath(QStringLiteral("client.conf")));
    cli.setProcessEnvironment(env);
    cli.setChildProcessModifier([] {
        const rlimit size{Cut, Cut};
        ::setrlimit(RLIMIT_FSIZE, &size);
        const rlimit noCore{0, 0}; // SIGXFSZ would leave one
        ::setrlimit(RLIMIT_CORE, &noCore);
    });
    cli.start(QStringLiteral(BRUMLIS_CLI),
              {QStringLiteral("--data"), dir.path(), QStringLiteral("voice")});
    ASSERT_TRUE(cli.waitForFinished(60000));
    ASSERT_EQ(cli.exitStatus(), QProcess::CrashExit) << "finished without being stopped";

    const QFileInfoList left = sound.entryInfoList(QDir::Files | QDir::Hidden);
    ASSERT_TRUE(std::any_of(left.begin(), left.end(), [](const QFileInfo& file) {
        return file.size() == qint64(Cut);
    })) << "stopped before writing a recording";
    for (const QFileInfo& file : left) {
        if (file.suffix() != QStringLiteral("wav"))
            continue;
        // Complete: the file ends where its header says the sound ends.
        const QByteArray bytes = readFile(file.filePath());
        const qsizetype data = bytes.indexOf("data");
        ASSERT_GE(data, 0) << file.fileName().toStdString();
        ASSERT_GE(bytes.size(), data + 8) << file.fileName().toStdString();
        const quint32 declared = qFromLittleEndian<quint32>(bytes.constData() + data + 4);
        EXPECT_EQ(bytes.size(), data + 8 + qsizetype(declared)) << file.fileName().toStdString();
    }
}

struct Clip {
    const char* name;
    int format;
    int rate;
    int channels;
    long frames;
    float level;
};

// render joins the converted clips: its length is their sum, it holds no silence, and
// clips cut at half of full scale (as hand-cut packs with an offset are) join without a
// click, as every clip is faded in and out as it is converted.
TEST(Render, JoinsTheConvertedClipsWithoutSilenceOrClicks) {
    Folder f;
    f.standardLists();
    f.list("namn", "Kalle");
    const Clip clips[] = {
        {"Kalle", SF_FORMAT_PCM_16, 22050, 1, 6615, 0.5f},
        {"är", SF_FORMAT_FLOAT, 48000, 2, 12000, -0.5f},
        {"på", SF_FORMAT_PCM_24, 44100, 1, 8820, 0.5f},
        {"hemma", SF_FORMAT_PCM_16, 8000, 1, 3201, -0.5f},
    };
    double expectedFrames = 0;
    for (const Clip& c : clips) {
        ASSERT_TRUE(
            test::writeLevelClip(f.sound(QString::fromUtf8(c.name) + QStringLiteral(".wav")),
                                 c.format, c.rate, c.channels, c.frames, c.level));
        expectedFrames += double(c.frames) * 48000 / c.rate;
    }
    const QString out = f.dir.filePath(QStringLiteral("sentence.wav"));
    const ToolRun r = run(f.dir.path(), {QStringLiteral("render"), QStringLiteral("--template"),
                                         QStringLiteral("5"), QStringLiteral("-o"), out});
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_EQ(r.out, QByteArray("Kalle är på hemma\n"));

    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(out).constData(), SFM_READ, &info);
    ASSERT_TRUE(file);
    EXPECT_EQ(info.samplerate, 48000);
    EXPECT_EQ(info.channels, 2);
    EXPECT_EQ(info.format, SF_FORMAT_WAV | SF_FORMAT_PCM_16);
    EXPECT_LE(std::fabs(double(info.frames) - expectedFrames), double(std::size(clips)));
    std::vector<short> samples(std::size_t(info.frames * info.channels));
    sf_readf_short(file, samples.data(), info.frames);
    sf_close(file);
    // Each fade ends a frame short of silence, which 16 bits round to nothing: two silent
    // frames meet at a join, three in a row would be silence added between the words.
    int silentRun = 0, longestSilence = 0, largestStep = 0;
    for (std::size_t i = 0; i < samples.size(); ++i) {
        if (i % 2 == 0) {
            silentRun = samples[i] == 0 && samples[i + 1] == 0 ? silentRun + 1 : 0;
            longestSilence = std::max(longestSilence, silentRun);
        }
        if (i >= 2)
            largestStep = std::max(largestStep, std::abs(samples[i] - samples[i - 2]));
    }
    EXPECT_LE(longestSilence, 2);
    EXPECT_LE(largestStep, 2 * 32768 / 100) << "a click: the step from one sample to the next";

    // To standard output: the same bytes, and the sentence kept out of them.
    const ToolRun piped =
        run(f.dir.path(), {QStringLiteral("render"), QStringLiteral("--template"),
                           QStringLiteral("5"), QStringLiteral("-o"), QStringLiteral("-")});
    EXPECT_EQ(piped.code, 0);
    EXPECT_EQ(piped.out, readFile(out));
    EXPECT_EQ(piped.err, QStringLiteral("Kalle är på hemma\n"));

    const ToolRun mono =
        run(f.dir.path(), {QStringLiteral("render"), QStringLiteral("--template"),
                           QStringLiteral("5"), QStringLiteral("-o"), out, QStringLiteral("--mono"),
                           QStringLiteral("--rate"), QStringLiteral("22050")});
    EXPECT_EQ(mono.code, 0);
    file = sf_open(QFile::encodeName(out).constData(), SFM_READ, &info);
    ASSERT_TRUE(file);
    sf_close(file);
    EXPECT_EQ(info.channels, 1);
    EXPECT_LE(std::fabs(double(info.frames) - expectedFrames * 22050 / 48000),
              double(std::size(clips)));
}

// A word without a recording is passed over, said so, and the run ends with 1.
TEST(Render, SaysWhichWordsHadNoSound) {
    Folder f;
    f.standardLists();
    f.list("namn", "Kalle");
    for (const char* name : {"Kalle", "är", "hemma"})
        ASSERT_TRUE(test::writeLevelClip(f.sound(QString::fromUtf8(name) + QStringLiteral(".wav")),
                                         SF_FORMAT_PCM_16, 48000, 2, 4800, 0.5f));
    const QString out = f.dir.filePath(QStringLiteral("s.wav"));
    const ToolRun r = run(f.dir.path(), {QStringLiteral("render"), QStringLiteral("--template"),
                                         QStringLiteral("5"), QStringLiteral("-o"), out});
    EXPECT_EQ(r.code, 1);
    EXPECT_EQ(r.err, QStringLiteral("render: \"på\" har ingen inspelning som kan spelas\n"));
    SF_INFO info{};
    SNDFILE* file = sf_open(QFile::encodeName(out).constData(), SFM_READ, &info);
    ASSERT_TRUE(file);
    sf_close(file);
    EXPECT_EQ(info.frames, 3 * 4800);
}

TEST(Render, SameSeedSameSentenceAsGenerate) {
    const QString data = QStringLiteral(BRUMLIS_DATA);
    const test::TempDir dir;
    const ToolRun rendered =
        run(data, {QStringLiteral("render"), QStringLiteral("--seed"), QStringLiteral("42"),
                   QStringLiteral("-o"), dir.filePath(QStringLiteral("a.wav"))});
    const ToolRun generated =
        run(data, {QStringLiteral("generate"), QStringLiteral("--seed"), QStringLiteral("42")});
    EXPECT_EQ(rendered.code, 0) << rendered.err.toStdString();
    EXPECT_EQ(rendered.out, generated.out);
}

} // namespace
} // namespace brumlis
