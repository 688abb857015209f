#include "brumlis/sentence/composer.h"
#include "brumlis/sentence/shapes.h"
#include "brumlis/text/swedish.h"
#include "testkit/fakes.h"
#include "testkit/tempfolder.h"
#include "testkit/text.h"

#include <algorithm>
#include <fstream>
#include <gtest/gtest.h>
#include <map>

namespace brumlis {
namespace {

using test::RecordingMessages;
using test::ScriptedRandom;
using test::TempFolder;
using test::u;
using test::utf8;

// A row written back in the file's own notation, so that a case reads as what it gives.
std::string written(const ShapeRow& row);

struct Writer {
    std::vector<std::string> parts;
    void word(const ShapePart& part) { parts.push_back('[' + utf8(part.text) + ']'); }
    void phrase(const ShapePart& part) { parts.push_back('"' + utf8(part.text) + '"'); }
    void choice(const ShapePart& part) {
        std::string alternatives;
        for (const ShapeRow& alternative : part.alternatives)
            alternatives += (alternatives.empty() ? "" : " | ") + written(alternative);
        parts.push_back('(' + alternatives + ')');
    }
};

std::string written(const ShapeRow& row) {
    Writer writer;
    visitParts(row, writer);
    std::string line;
    for (const std::string& part : writer.parts)
        line += (line.empty() ? "" : " ") + part;
    return line;
}

std::string nested(int depth) {
    return std::string(std::size_t(depth), '(') + "[a]" + std::string(std::size_t(depth), ')');
}

std::string words(int n) {
    std::string line;
    for (int i = 0; i < n; ++i)
        line += i ? " [a]" : "[a]";
    return line;
}

struct ShapeCase {
    std::string line;
    int weight;         // 0: refused
    std::string expect; // what it gives, written back; or a piece of the fault
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
        SCOPED_TRACE(c.line);
        const std::u16string line = u(c.line);
        const ShapeBook book = parseShapes(line);
        ASSERT_EQ(book.numbered, 1);
        if (c.weight == 0) {
            ASSERT_EQ(parseShapes(line, false).faults.size(), 1u);
            ASSERT_EQ(book.faults.size(), 1u);
            EXPECT_TRUE(book.shapes.empty());
            EXPECT_NE(utf8(book.faults[0].what).find(c.expect), std::string::npos)
                << utf8(book.faults[0].what);
            continue;
        }
        ASSERT_EQ(book.shapes.size(), 1u) << utf8(book.faults[0].what);
        EXPECT_EQ(book.shapes[0].weight, c.weight);
        EXPECT_EQ(written(book.shapes[0].parts), c.expect);
        // Read as a sentence reads it: checked only, and the drawn shape's parts read again.
        const ShapeBook light = parseShapes(line, false);
        ASSERT_EQ(light.shapes.size(), 1u);
        EXPECT_TRUE(light.shapes[0].parts.empty());
        EXPECT_EQ(written(partsOf(line, light.shapes[0])), c.expect);
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
    const std::u16string deep = std::u16string(100000, u'(') + std::u16string(100000, u')');
    EXPECT_EQ(parseShapes(deep).faults.size(), 1u);
    const std::u16string wide = u"(" + std::u16string(50000, u'|') + u")";
    EXPECT_EQ(parseShapes(wide).faults.size(), 1u);
}

class OwnShapes : public testing::Test {
protected:
    void writeShapes(const std::string& text) { dir.write("mallar.txt", text); }
    TempFolder dir;
    RecordingMessages messages;
    ScriptedRandom random;
    SentenceComposer composer{dir.path(), messages, random};
    SentenceBuffer buffer;
};

TEST_F(OwnShapes, ShapesAreDrawnByWeightAndAlternativesEvenly) {
    writeShapes("1: \"ett\"\n3: (\"a\" | \"b\" | \"c\")\n");
    std::map<std::string, int> seen;
    constexpr int Draws = 6000;
    for (int i = 0; i < Draws; ++i) {
        ASSERT_TRUE(composer.compose(buffer));
        ++seen[utf8(buffer.WordText(0))];
    }
    EXPECT_NEAR(seen["ett"], Draws / 4, Draws / 40);
    for (const char* letter : {"a", "b", "c"})
        EXPECT_NEAR(seen[letter], Draws / 4, Draws / 40) << letter;
    EXPECT_TRUE(messages.messages.empty());
}

TEST_F(OwnShapes, PhrasesAreShownAsWrittenAndPlayedWithUnderscores) {
    dir.write("text/sak.txt", "en stor bil\n");
    writeShapes("\xEF\xBB\xBF\"vi har\" [sak] \"i f\xC3\xB6nstret\"\r\n");
    ASSERT_TRUE(composer.compose(buffer));
    EXPECT_EQ(buffer.SlotsUsed, 3);
    EXPECT_EQ(buffer.WordText(0), u"vi har");
    EXPECT_EQ(buffer.SoundFile(0), u"sound/vi_har.wav");
    EXPECT_EQ(buffer.SoundFile(1), u"sound/en stor bil.wav");
    EXPECT_EQ(buffer.WordText(2), u"i fönstret");
    EXPECT_EQ(buffer.TemplateNo, 1);
}

TEST_F(OwnShapes, FaultyLinesAreToldOnceAndTheRestUsed) {
    std::string text = "[a\n";
    for (int i = 0; i < 11; ++i)
        text += "0: \"x\"\n";
    text += "\"kvar\"\n";
    writeShapes(text);
    EXPECT_FALSE(composer.compose(buffer));
    ASSERT_EQ(messages.messages.size(), 1u);
    std::vector<std::string> lines;
    std::string rest = utf8(messages.messages[0]);
    for (std::size_t end; (end = rest.find('\n')) != std::string::npos; rest.erase(0, end + 1))
        lines.push_back(rest.substr(0, end));
    lines.push_back(rest);
    ASSERT_EQ(lines.size(), 11u);
    EXPECT_TRUE(lines[0].starts_with("mallar.txt rad 1: ")) << lines[0];
    EXPECT_TRUE(lines[9].starts_with("mallar.txt rad 10: "));
    EXPECT_EQ(lines[10], "… och 2 fel till");
    EXPECT_EQ(buffer.WordText(0), u"kvar");
    EXPECT_EQ(buffer.TemplateNo, 13);
}

TEST_F(OwnShapes, WithNoShapeLeftTheBuiltInOnesAreUsed) {
    for (const std::string text : {"# only a comment\n", "[\n"}) {
        writeShapes(text);
        messages.messages.clear();
        EXPECT_FALSE(composer.compose(buffer, 5));
        ASSERT_FALSE(messages.messages.empty());
        EXPECT_NE(utf8(messages.messages[0]).find("inbyggda"), std::string::npos);
        EXPECT_EQ(buffer.WordText(1), u"är") << "template 5 is [namn] \"är\" ...";
    }
}

TEST_F(OwnShapes, AMallarTxtThatCannotBeReadIsToldAndTheBuiltInOnesUsed) {
    dir.mkdir("mallar.txt");
    EXPECT_FALSE(composer.compose(buffer, 1));
    ASSERT_FALSE(messages.messages.empty());
    EXPECT_EQ(utf8(messages.messages[0]),
              "mallar.txt kan inte läsas; de elva inbyggda mallarna används");
    EXPECT_EQ(buffer.WordText(1), u"tycker att");
}

// The eleven built-in templates (examples/mallar.txt, built in) give the sentences
// recorded here once, before the shapes were a file; and the file read from a data folder
// gives them too.
TEST(ShapeGolden, TheBuiltInTemplatesAndTheExampleFileGiveTheRecordedSentences) {
    std::ifstream golden(BRUMLIS_SOURCE_DIR "/tests/sentence/golden/seed-2026.txt");
    std::vector<std::string> expected;
    for (std::string line; std::getline(golden, line);)
        if (!line.empty())
            expected.push_back(line);
    ASSERT_EQ(expected.size(), 60u);

    auto sentences = [](const std::filesystem::path& dataDir) {
        RecordingMessages messages;
        MersenneRandom random(2026);
        SentenceComposer composer(dataDir, messages, random);
        std::vector<std::string> made;
        SentenceBuffer buffer;
        for (int i = 0; i < 60; ++i) {
            composer.compose(buffer);
            std::string line = std::to_string(buffer.TemplateNo);
            for (int k = 0; k < buffer.SlotsUsed; ++k)
                line += ' ' + utf8(buffer.WordText(k));
            made.push_back(line);
        }
        EXPECT_TRUE(messages.messages.empty());
        return made;
    };
    TempFolder data;
    data.mkdir("text");
    for (const auto& list : std::filesystem::directory_iterator(BRUMLIS_DATA "/text"))
        std::filesystem::copy_file(list.path(), data.filePath("text/") / list.path().filename(),
                                   std::filesystem::copy_options::none);
    EXPECT_EQ(sentences(data.path()), expected) << "the built-in templates";
    std::filesystem::copy_file(BRUMLIS_SOURCE_DIR "/examples/mallar.txt",
                               data.filePath("mallar.txt"));
    EXPECT_EQ(sentences(data.path()), expected) << "examples/mallar.txt";
}

// The tools list the built-in classes in their own order: every class the built-in shapes
// use, each once, and no other.
TEST(ShapeGolden, TheBuiltInClassesAreTheOnesTheBuiltInShapesUse) {
    ShapeBook read = builtinShapes();
    read.builtin = false; // the classes as any book's are collected, in the order met
    std::vector<std::u16string> used = vocabularyOf(read).classes;
    std::vector<std::u16string> listed = BuiltinClasses;
    std::sort(used.begin(), used.end());
    std::sort(listed.begin(), listed.end());
    EXPECT_EQ(utf8(used), utf8(listed));
}

TEST(Swedish, NumbersAreWrittenWithADecimalCommaAndCountsAgree) {
    const std::pair<double, const char*> decimals[] = {
        {-23.0, "-23,0"}, {0.26, "0,3"}, {-0.04, "0,0"}, {1.0 / 0.0, "inf"}, {-1.0 / 0.0, "-inf"}};
    for (const auto& [value, text] : decimals)
        EXPECT_EQ(utf8(swedishDecimal(value, 1)), text) << value;
    EXPECT_EQ(swedishDecimal(1.275, 2), u"1,27"); // as printf rounds binary 1.275
    EXPECT_EQ(swedishCount(1, u"inspelning", u"inspelningar"), u"1 inspelning");
    EXPECT_EQ(swedishCount(0, u"inspelning", u"inspelningar"), u"0 inspelningar");
    EXPECT_EQ(swedishCount(2, u"inspelning", u"inspelningar"), u"2 inspelningar");
}

} // namespace
} // namespace brumlis
