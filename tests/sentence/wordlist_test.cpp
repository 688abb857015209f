#include "sentence/wordlist.h"
#include "support/tempdir.h"

#include <QStringList>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brumlis {
namespace {

struct ParseCase {
    const char* name;
    const char* text;
    QStringList items;
};

class ParseItems : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseItems, YieldsTheItemsInOrder) {
    const ParseCase& c = GetParam();
    const QString text = QString::fromUtf8(c.text);
    EXPECT_EQ(parseItems(text), c.items);
    EXPECT_EQ(countItems(text), c.items.size());
}

INSTANTIATE_TEST_SUITE_P(
    Rules, ParseItems,
    testing::Values(
        ParseCase{"Empty", "", {}}, ParseCase{"SingleWithoutLineEnd", "röd", {"röd"}},
        ParseCase{"LineEndAfterLastItemAddsNothing", "a\nb\n", {"a", "b"}},
        ParseCase{"ExtraEmptyLineAddsEmptyItem", "a\nb\n\n", {"a", "b", ""}},
        ParseCase{"LoneLineEnd", "\n", {""}},
        ParseCase{"EmptyLineInTheMiddle", "a\n\nb", {"a", "", "b"}},
        ParseCase{"CrLf", "a\r\nb\r\n", {"a", "b"}}, ParseCase{"LoneCr", "a\rb\r", {"a", "b"}},
        ParseCase{"CrLfEmptyLine", "a\r\n\r\nb", {"a", "", "b"}},
        ParseCase{"MixedLineEnds", "a\rb\nc\r\nd", {"a", "b", "c", "d"}},
        ParseCase{"CommaSeparates", "röd, blå", {"röd", "blå"}},
        ParseCase{"TrailingComma", "a,", {"a", ""}},
        ParseCase{"TrailingCommaThenLine", "a,\nb", {"a", "", "b"}},
        ParseCase{"OnlyComma", ",", {"", ""}},
        ParseCase{"LeadingBlanksAndTabsSkipped", "  \t röd\n\tblå", {"röd", "blå"}},
        ParseCase{"TrailingBlanksDropped", "röd  \t\nblå ", {"röd", "blå"}},
        ParseCase{"InnerBlankKept", "inne i\nröd bil", {"inne i", "röd bil"}},
        ParseCase{"BlankOnlyLineIsEmptyItem", "a\n   \nb", {"a", "", "b"}},
        ParseCase{"QuotedKeepsComma", "\"Stockholm, Sverige\",x", {"Stockholm, Sverige", "x"}},
        ParseCase{"QuotedKeepsOuterBlanks", "\" a \"", {" a "}},
        ParseCase{"AfterClosingQuoteIgnored", "\"ab\"cd,e", {"ab", "e"}},
        ParseCase{"UnterminatedQuoteEndsAtLine", "\"ab,c\nd", {"ab,c", "d"}},
        ParseCase{"EmptyQuoted", "\"\"\n", {""}},
        ParseCase{"QuoteInsideUnquotedKept", "ab\"c", {"ab\"c"}},
        ParseCase{"LeadingBlanksBeforeQuote", "  \"x\"", {"x"}}),
    [](const testing::TestParamInfo<ParseCase>& info) { return std::string(info.param.name); });

struct DecodeCase {
    const char* name;
    QByteArray bytes;
    QString text;
};

class DecodeListBytes : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeListBytes, Decodes) {
    EXPECT_EQ(decodeListBytes(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, DecodeListBytes,
    testing::Values(
        DecodeCase{"Utf8",
                   QByteArray("r\xc3\xb6"
                              "d"),
                   QString::fromUtf8("röd")},
        DecodeCase{"Utf8Bom",
                   QByteArray("\xef\xbb\xbf"
                              "r\xc3\xb6"
                              "d"),
                   QString::fromUtf8("röd")},
        DecodeCase{"Utf16LeBom",
                   QByteArray("\xff\xfe"
                              "r\0\xf6\0d\0",
                              8),
                   QString::fromUtf8("röd")},
        DecodeCase{"Utf16BeBom", QByteArray("\xfe\xff\0r\0\xf6\0d", 8), QString::fromUtf8("röd")},
        DecodeCase{"Windows1252Letters",
                   QByteArray("r\xf6"
                              "d \xe5\xe4\xc5\xc4\xd6"),
                   QString::fromUtf8("röd åäÅÄÖ")},
        DecodeCase{"Windows1252HighRange", QByteArray("\x80\x9a\x9e\x9f\x85"),
                   QString::fromUtf8("€šžŸ…")},
        DecodeCase{"Windows1252UndefinedBytes", QByteArray("\x81\x8d\x8f\x90\x9d"),
                   QStringView(u"\u0081\u008d\u008f\u0090\u009d").toString()},
        DecodeCase{"TruncatedUtf8FallsBack", QByteArray("abc\xc3"), QString::fromUtf8("abcÃ")},
        DecodeCase{"PlainAscii", QByteArray("a,b\r\n"), QStringLiteral("a,b\r\n")}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

TEST(DecodeListBytes, EveryByteOfGarbageBecomesOneCharacter) {
    QByteArray garbage;
    for (int i = 0; i < 4096; ++i)
        garbage.append(char((i * 151 + 7) & 0xFF));
    garbage.replace(0, 2, "ab"); // no byte-order mark
    const QString text = decodeListBytes(garbage);
    EXPECT_EQ(text.size(), garbage.size());
    EXPECT_GT(countItems(text), 0);
}

TEST(ParseItems, MegabyteLineIsOneItem) {
    const QString line(1 << 20, u'x');
    const QStringList items = parseItems(line + u'\n');
    ASSERT_EQ(items.size(), 1);
    EXPECT_EQ(items.first().size(), line.size());
}

TEST(ReadListFile, ReadsRegularFileInAnyEncoding) {
    test::TempDir dir;
    dir.write("utf16.txt", QByteArray("\xff\xfe"
                                      "\xc5\0s\0a\0\r\0\n\0",
                                      12));
    const ListFile list = readListFile(dir.filePath("utf16.txt"));
    ASSERT_EQ(list.status, ListStatus::Ok);
    EXPECT_EQ(parseItems(list.text), QStringList{QString::fromUtf8("Åsa")});
}

TEST(ReadListFile, ClassifiesWhatCannotBeRead) {
    test::TempDir dir;
    dir.mkdir("folder.txt");
    const QByteArray fifo = QFile::encodeName(dir.filePath("fifo.txt"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", QFile::encodeName(dir.filePath("zero.txt")).constData()), 0);
    ASSERT_EQ(::symlink("nowhere", QFile::encodeName(dir.filePath("dangling.txt")).constData()), 0);

    struct Case {
        const char* file;
        ListStatus status;
    } cases[] = {
        {"absent.txt", ListStatus::Missing},       {"dangling.txt", ListStatus::Missing},
        {"absent/inner.txt", ListStatus::Missing}, {"folder.txt", ListStatus::Unreadable},
        {"fifo.txt", ListStatus::Unreadable}, // must not wait for a writer
        {"zero.txt", ListStatus::Unreadable}, // must not read forever
    };
    for (const Case& c : cases)
        EXPECT_EQ(readListFile(dir.filePath(c.file)).status, c.status) << c.file;
}

TEST(ReadListFile, FileWithoutPermissionIsUnreadable) {
    if (::geteuid() == 0)
        GTEST_SKIP() << "root reads files whatever their permissions";
    test::TempDir dir;
    dir.write("secret.txt", "a\n");
    ASSERT_EQ(::chmod(QFile::encodeName(dir.filePath("secret.txt")).constData(), 0), 0);
    EXPECT_EQ(readListFile(dir.filePath("secret.txt")).status, ListStatus::Unreadable);
}

} // namespace
} // namespace brumlis
