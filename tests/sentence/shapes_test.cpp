#include "brumlis/sentence/composer.h"
#include "brumlis/sentence/shapes.h"
#include "brumlis/sentence/swedish.h"
#include "support/fakes.h"
#include "support/tempdir.h"

#include <QDir>
#include <QFile>
#include <gtest/gtest.h>
#include <map>

namespace brumlis {
namespace {

using test::RecordingMessages;
using test::ScriptedRandom;
using test::TempDir;

// A row written back in the file's own notation, so that a case reads as what it gives.
QString written(const ShapeRow& row) {
    QStringList parts;
    for (const ShapePart& part : row) {
        if (part.kind == ShapePart::Kind::Word) {
            parts << u'[' + part.text + u']';
        } else if (part.kind == ShapePart::Kind::Phrase) {
            parts << u'"' + part.text + u'"';
        } else {
            QStringList alternatives;
            for (const ShapeRow& alternative : part.alternatives)
                alternatives << written(alternative);
            parts << u'(' + alternatives.join(QStringLiteral(" | ")) + u')';
        }
    }
    return parts.join(u' ');
}

QString nested(int depth) {
    return QString(depth, u'(') + QStringLiteral("[a]") + QString(depth, u')');
}

QString words(int n) {
    QStringList parts;
    for (int i = 0; i < n; ++i)
        parts << QStringLiteral("[a]");
    return parts.join(u' ');
}

struct ShapeCase {
    QString line;
    int weight;     // 0: refused
    QString expect; // what it gives, written back; or a piece of the fault
};

TEST(Shapes, EachLineGivesItsPartsOrSaysWhyNot) {
    const ShapeCase cases[] = {
        {R"([namn] "tycker att" [namn])", 1, R"([namn] "tycker att" [namn])"},
        {R"(3: [namn] "har" ("en" [adj] [sub_reale] | "ett" [adj_neu] [sub_neu]))", 3,
         R"([namn] "har" ("en" [adj] [sub_reale] | "ett" [adj_neu] [sub_neu]))"},
        {"  1000:[ namn ]\t\"är\"", 1000, R"([namn] "är")"},
        {R"([a]"b"([c]|[d]([e]|"f g")))", 1, R"([a] "b" ([c] | [d] ([e] | "f g")))"},
        {"0: [a]", 0, "vikten \"0\""},
        {"1001: [a]", 0, "vikten \"1001\""},
        {"x: [a]", 0, "vikten \"x\""},
        {"99999999999: [a]", 0, "vikten"},
        {"5:", 0, "inga delar"},
        {"[namn", 0, "\"[\" stängs aldrig"},
        {R"([namn] "tycker att)", 0, "citattecken stängs aldrig"},
        {"([a] | [b]", 0, "\"(\" stängs aldrig"},
        {"[a] )", 0, "\")\" stänger"},
        {"[a] | [b]", 0, "\"|\" står utanför"},
        {"[ ]", 0, "klassnamn är tomt"},
        {"[../hemligt]", 0, "får inte innehålla"},
        {"[a/b]", 0, "får inte innehålla"},
        {"[a\\b]", 0, "får inte innehålla"},
        {R"("")", 0, "fras är tom"},
        {R"("../../x")", 0, "får inte innehålla"},
        {"([a] | )", 0, "alternativ är tomt"},
        {"hej [a]", 0, "\"h\" är ingen del"},
        {nested(8), 1, nested(8)},
        {nested(9), 0, "fler än 8 nivåer"},
        {words(15), 1, words(15)},
        {words(16), 0, "16 delar"},
        // The longest alternative counts: 14 + 2.
        {words(14) + " ([b] [c] | [d])", 0, "16 delar"},
        {words(14) + " ([b] | [d])", 1, words(14) + " ([b] | [d])"},
    };
    for (const ShapeCase& c : cases) {
        SCOPED_TRACE(c.line.toStdString());
        const ShapeBook book = parseShapes(c.line);
        ASSERT_EQ(book.numbered, 1);
        if (c.weight == 0) {
            ASSERT_EQ(parseShapes(c.line, false).faults.size(), 1u);
            ASSERT_EQ(book.faults.size(), 1u);
            EXPECT_TRUE(book.shapes.empty());
            EXPECT_TRUE(book.faults[0].what.contains(c.expect))
                << book.faults[0].what.toStdString();
            continue;
        }
        ASSERT_EQ(book.shapes.size(), 1u) << book.faults[0].what.toStdString();
        EXPECT_EQ(book.shapes[0].weight, c.weight);
        EXPECT_EQ(written(book.shapes[0].parts), c.expect);
        // Read as a sentence reads it: checked only, and the drawn shape's parts read again.
        const ShapeBook light = parseShapes(c.line, false);
        ASSERT_EQ(light.shapes.size(), 1u);
        EXPECT_TRUE(light.shapes[0].parts.empty());
        EXPECT_EQ(written(partsOf(c.line, light.shapes[0])), c.expect);
    }
}

TEST(Shapes, NumbersCountShapeLinesFaultyOnesTooAndLineEndsOfEveryKind) {
    const ShapeBook book = parseShapes(u"# a comment\r\n\r\n  [a]\r[b\n   # indented comment\n\t\n"
                                       u"2: [c]\r\n");
    ASSERT_EQ(book.shapes.size(), 2u);
    EXPECT_EQ(book.numbered, 3);
    EXPECT_EQ(book.shapes[0].number, 1);
    EXPECT_EQ(book.shapes[0].line, 3);
    EXPECT_EQ(book.shapes[1].number, 3);
    EXPECT_EQ(book.shapes[1].line, 7);
    EXPECT_EQ(book.totalWeight, 3u);
    ASSERT_EQ(book.faults.size(), 1u);
    EXPECT_EQ(book.faults[0].line, 4);
    EXPECT_EQ(book.faults[0].number, 2);
}

TEST(Shapes, HostileTextEndsWithAFault) {
    const QString deep = QString(100000, u'(') + QString(100000, u')');
    EXPECT_EQ(parseShapes(deep).faults.size(), 1u);
    const QString wide = QStringLiteral("(") + QString(50000, u'|') + QStringLiteral(")");
    EXPECT_EQ(parseShapes(wide).faults.size(), 1u);
}

class OwnShapes : public testing::Test {
protected:
    void writeShapes(const QByteArray& text) { dir.write("mallar.txt", text); }
    TempDir dir;
    RecordingMessages messages;
    ScriptedRandom random;
    SentenceComposer composer{dir.path(), messages, random};
    SentenceBuffer buffer;
};

TEST_F(OwnShapes, ShapesAreDrawnByWeightAndAlternativesEvenly) {
    writeShapes("1: \"ett\"\n3: (\"a\" | \"b\" | \"c\")\n");
    std::map<QString, int> seen;
    constexpr int Draws = 6000;
    for (int i = 0; i < Draws; ++i) {
        ASSERT_TRUE(composer.compose(buffer));
        ++seen[buffer.WordText(0)];
    }
    EXPECT_NEAR(seen[QStringLiteral("ett")], Draws / 4, Draws / 40);
    for (const char* letter : {"a", "b", "c"})
        EXPECT_NEAR(seen[QString::fromLatin1(letter)], Draws / 4, Draws / 40) << letter;
    EXPECT_TRUE(messages.messages.isEmpty());
}

TEST_F(OwnShapes, PhrasesAreShownAsWrittenAndPlayedWithUnderscores) {
    dir.write("text/sak.txt", "en stor bil\n");
    writeShapes("\xEF\xBB\xBF\"vi har\" [sak] \"i f\xC3\xB6nstret\"\r\n");
    ASSERT_TRUE(composer.compose(buffer));
    EXPECT_EQ(buffer.SlotsUsed, 3);
    EXPECT_EQ(buffer.WordText(0), QStringLiteral("vi har"));
    EXPECT_EQ(buffer.SoundFile(0), QStringLiteral("sound/vi_har.wav"));
    EXPECT_EQ(buffer.SoundFile(1), QStringLiteral("sound/en stor bil.wav"));
    EXPECT_EQ(buffer.WordText(2), QStringLiteral("i fönstret"));
    EXPECT_EQ(buffer.TemplateNo, 1);
}

TEST_F(OwnShapes, FaultyLinesAreToldOnceAndTheRestUsed) {
    QByteArray text = "[a\n";
    for (int i = 0; i < 11; ++i)
        text += "0: \"x\"\n";
    text += "\"kvar\"\n";
    writeShapes(text);
    EXPECT_FALSE(composer.compose(buffer));
    ASSERT_EQ(messages.messages.size(), 1);
    const QStringList lines = messages.messages[0].split(u'\n');
    ASSERT_EQ(lines.size(), 11);
    EXPECT_TRUE(lines[0].startsWith(QStringLiteral("mallar.txt rad 1: ")))
        << lines[0].toStdString();
    EXPECT_TRUE(lines[9].startsWith(QStringLiteral("mallar.txt rad 10: ")));
    EXPECT_EQ(lines[10], QStringLiteral("… och 2 fel till"));
    EXPECT_EQ(buffer.WordText(0), QStringLiteral("kvar"));
    EXPECT_EQ(buffer.TemplateNo, 13);
}

TEST_F(OwnShapes, WithNoShapeLeftTheBuiltInOnesAreUsed) {
    for (const QByteArray& text : {QByteArray("# only a comment\n"), QByteArray("[\n")}) {
        writeShapes(text);
        messages.messages.clear();
        EXPECT_FALSE(composer.compose(buffer, 5));
        ASSERT_FALSE(messages.messages.isEmpty());
        EXPECT_TRUE(messages.messages[0].contains(QStringLiteral("inbyggda")));
        EXPECT_EQ(buffer.WordText(1), QStringLiteral("är")) << "template 5 is [namn] \"är\" ...";
    }
}

TEST_F(OwnShapes, AMallarTxtThatCannotBeReadIsToldAndTheBuiltInOnesUsed) {
    dir.mkdir("mallar.txt");
    EXPECT_FALSE(composer.compose(buffer, 1));
    ASSERT_FALSE(messages.messages.isEmpty());
    EXPECT_EQ(messages.messages[0],
              QStringLiteral("mallar.txt kan inte läsas; de elva inbyggda mallarna används"));
    EXPECT_EQ(buffer.WordText(1), QStringLiteral("tycker att"));
}

// The eleven templates written out in examples/mallar.txt give what the built-in ones give,
// sentence for sentence, and both give the sentences recorded here once.
TEST(ShapeGolden, TheExampleFileAndTheBuiltInTemplatesGiveTheSameSentences) {
    QFile golden(QStringLiteral(BRUMLIS_SOURCE_DIR "/tests/sentence/golden/seed-2026.txt"));
    ASSERT_TRUE(golden.open(QIODevice::ReadOnly));
    const QStringList expected =
        QString::fromUtf8(golden.readAll()).split(u'\n', Qt::SkipEmptyParts);
    ASSERT_EQ(expected.size(), 60);

    auto sentences = [](const QString& dataDir) {
        RecordingMessages messages;
        MersenneRandom random(2026);
        SentenceComposer composer(dataDir, messages, random);
        QStringList made;
        SentenceBuffer buffer;
        for (int i = 0; i < 60; ++i) {
            composer.compose(buffer);
            QStringList words;
            for (int k = 0; k < buffer.SlotsUsed; ++k)
                words << buffer.WordText(k);
            made << QString::number(buffer.TemplateNo) + u' ' + words.join(u' ');
        }
        EXPECT_TRUE(messages.messages.isEmpty()) << messages.messages.join(u'\n').toStdString();
        return made;
    };
    TempDir data;
    data.mkdir("text");
    for (const QString& list : QDir(QStringLiteral(BRUMLIS_DATA "/text")).entryList(QDir::Files))
        ASSERT_TRUE(QFile::copy(QStringLiteral(BRUMLIS_DATA "/text/") + list,
                                data.filePath("text/" + list)));
    EXPECT_EQ(sentences(data.path()), expected) << "the built-in templates";
    ASSERT_TRUE(QFile::copy(QStringLiteral(BRUMLIS_SOURCE_DIR "/examples/mallar.txt"),
                            data.filePath("mallar.txt")));
    EXPECT_EQ(sentences(data.path()), expected) << "examples/mallar.txt";
}

TEST(Swedish, NumbersAreWrittenWithADecimalCommaAndCountsAgree) {
    const std::pair<double, const char*> decimals[] = {
        {-23.0, "-23,0"}, {0.26, "0,3"}, {-0.04, "0,0"}, {1.0 / 0.0, "inf"}, {-1.0 / 0.0, "-inf"}};
    for (const auto& [value, text] : decimals)
        EXPECT_EQ(swedishDecimal(value, 1), QString::fromUtf8(text)) << value;
    EXPECT_EQ(swedishDecimal(1.275, 2), QStringLiteral("1,27")); // as printf rounds binary 1.275
    EXPECT_EQ(swedishCount(1, "inspelning", "inspelningar"), QStringLiteral("1 inspelning"));
    EXPECT_EQ(swedishCount(0, "inspelning", "inspelningar"), QStringLiteral("0 inspelningar"));
    EXPECT_EQ(swedishCount(2, "inspelning", "inspelningar"), QStringLiteral("2 inspelningar"));
}

} // namespace
} // namespace brumlis
