#include "brumlis/sentence/wordlist.h"
#include "testkit/tempfolder.h"
#include "testkit/text.h"

#include <algorithm>
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace brumlis {
namespace {

using test::u;
using test::utf8;

struct ParseCase {
    const char* name;
    const char* text;
    std::vector<std::string> items;
};

class ParseItems : public testing::TestWithParam<ParseCase> {};

TEST_P(ParseItems, YieldsTheItemsInOrder) {
    const ParseCase& c = GetParam();
    const std::u16string text = u(c.text);
    EXPECT_EQ(utf8(parseItems(text)), c.items);
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
    std::string bytes;
    std::u16string text;
};

class DecodeListBytes : public testing::TestWithParam<DecodeCase> {};

TEST_P(DecodeListBytes, Decodes) {
    EXPECT_EQ(decodeListBytes(GetParam().bytes), GetParam().text);
}

INSTANTIATE_TEST_SUITE_P(
    Encodings, DecodeListBytes,
    testing::Values(DecodeCase{"Utf8",
                               std::string("r\xc3\xb6"
                                           "d"),
                               u("röd")},
                    DecodeCase{"Utf8Bom",
                               std::string("\xef\xbb\xbf"
                                           "r\xc3\xb6"
                                           "d"),
                               u("röd")},
                    DecodeCase{"Utf16LeBom",
                               std::string("\xff\xfe"
                                           "r\0\xf6\0d\0",
                                           8),
                               u("röd")},
                    DecodeCase{"Utf16BeBom", std::string("\xfe\xff\0r\0\xf6\0d", 8), u("röd")},
                    DecodeCase{"Windows1252Letters",
                               std::string("r\xf6"
                                           "d \xe5\xe4\xc5\xc4\xd6"),
                               u("röd åäÅÄÖ")},
                    DecodeCase{"Windows1252HighRange", std::string("\x80\x9a\x9e\x9f\x85"),
                               u("€šžŸ…")},
                    DecodeCase{"Windows1252UndefinedBytes", std::string("\x81\x8d\x8f\x90\x9d"),
                               u"\u0081\u008d\u008f\u0090\u009d"},
                    DecodeCase{"TruncatedUtf8FallsBack", std::string("abc\xc3"), u("abcÃ")},
                    DecodeCase{"PlainAscii", std::string("a,b\r\n"), u"a,b\r\n"}),
    [](const testing::TestParamInfo<DecodeCase>& info) { return std::string(info.param.name); });

TEST(DecodeListBytes, EveryByteOfGarbageBecomesOneCharacter) {
    std::string garbage;
    for (int i = 0; i < 4096; ++i)
        garbage += char((i * 151 + 7) & 0xFF);
    garbage.replace(0, 2, "ab"); // no byte-order mark
    const std::u16string text = decodeListBytes(garbage);
    EXPECT_EQ(text.size(), garbage.size());
    EXPECT_GT(countItems(text), 0);
}

TEST(ParseItems, MegabyteLineIsOneItemCutToTheLimit) {
    const std::u16string line(1 << 20, u'x');
    const std::vector<std::u16string> items = parseItems(line + u("\nnästa"));
    ASSERT_EQ(items.size(), 2u);
    EXPECT_EQ(items.front(), std::u16string(MaxItemLength, u'x'));
    EXPECT_EQ(items.back(), u("nästa"));
}

TEST(ParseItems, LongItemsAreCutAtAWholeCharacter) {
    const std::u16string smile = u("\xF0\x9F\x98\x80"); // one character, two code units
    const std::u16string x999(MaxItemLength - 1, u'x');
    using S = std::u16string;
    struct Case {
        const char* name;
        std::u16string text;
        std::u16string first;
    } cases[] = {
        {"exactly the limit", S(MaxItemLength, u'a'), S(MaxItemLength, u'a')},
        {"2,000 characters", S(2000, u'a') + u",b", S(MaxItemLength, u'a')},
        {"quoted", u'"' + S(2000, u'q') + u'"', S(MaxItemLength, u'q')},
        {"pair across the limit", x999 + smile + u'y', x999},
        {"pair just inside", S(MaxItemLength - 2, u'x') + smile + u'y',
         S(MaxItemLength - 2, u'x') + smile},
    };
    for (const Case& c : cases) {
        ItemReader reader(c.text);
        std::u16string item;
        ASSERT_TRUE(reader.next(&item)) << c.name;
        EXPECT_EQ(item, c.first) << c.name;
    }
}

struct LineCase {
    const char* name;
    std::string bytes;
    std::vector<std::string> items;
    ListEncoding encoding;
};

class DecodeEachLine : public testing::TestWithParam<LineCase> {};

TEST_P(DecodeEachLine, KeepsEachLinesOwnEncoding) {
    const DecodedList decoded = decodeList(GetParam().bytes);
    EXPECT_EQ(utf8(parseItems(decoded.text)), GetParam().items);
    EXPECT_EQ(decoded.encoding, GetParam().encoding);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, DecodeEachLine,
    testing::Values(
        LineCase{"StrayByteSpoilsOnlyItsLine",
                 std::string("Bj\xc3\xb6rn\nG\xc3\xb6ran\nAnna\xe9"),
                 {"Björn", "Göran", "Annaé"},
                 ListEncoding::Mixed},
        LineCase{"CrLfAndLoneCrSeparateLines",
                 std::string("\xe5\r\n\xc3\xa5\r\xe4\r\n"),
                 {"å", "å", "ä"},
                 ListEncoding::Mixed},
        LineCase{"AllWindows1252",
                 std::string("G\xf6ran\nabc\n\x80"),
                 {"Göran", "abc", "€"},
                 ListEncoding::Windows1252},
        LineCase{"AllUtf8", std::string("G\xc3\xb6ran\nabc"), {"Göran", "abc"}, ListEncoding::Utf8},
        // Overlong forms and encoded surrogates are not UTF-8.
        LineCase{"OverlongIsNotUtf8",
                 std::string("\xe0\x80\xaf\n\xc3\xa4"),
                 {"à€¯", "ä"},
                 ListEncoding::Mixed},
        LineCase{"SurrogateIsNotUtf8",
                 std::string("\xed\xa0\x80\n\xf0\x9f\x98\x80"),
                 {"í\xc2\xa0€", "\xF0\x9F\x98\x80"},
                 ListEncoding::Mixed},
        LineCase{"CutSequenceAtLineEnd",
                 std::string("\xc3\n\xa4"),
                 {"Ã", "¤"},
                 ListEncoding::Windows1252},
        // With a mark the whole file is read one way, as before.
        LineCase{"BomKeepsTheWholeFileTogether",
                 std::string("\xef\xbb\xbf\xc3\xa5\n\xe5"),
                 {"Ã¥", "å"},
                 ListEncoding::Windows1252}),
    [](const testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST(ReadListFile, ReadsRegularFileInAnyEncoding) {
    test::TempFolder dir;
    dir.write("utf16.txt", std::string("\xff\xfe"
                                       "\xc5\0s\0a\0\r\0\n\0",
                                       12));
    const ListFile list = readListFile(dir.filePath("utf16.txt"));
    ASSERT_EQ(list.status, ListStatus::Ok);
    EXPECT_EQ(utf8(parseItems(list.text)), std::vector<std::string>{"Åsa"});
}

TEST(ReadListFile, RefusesAListOverTheLimit) {
    test::TempFolder dir;
    dir.write("big.txt", std::string(17 * 1024 * 1024, 'a'));
    dir.write("limit.txt", std::string(MaxListBytes, 'a'));
    EXPECT_EQ(readListFile(dir.filePath("big.txt")).status, ListStatus::TooLarge);
    const ListFile limit = readListFile(dir.filePath("limit.txt"));
    ASSERT_EQ(limit.status, ListStatus::Ok);
    EXPECT_EQ(parseItems(limit.text), std::vector{std::u16string(MaxItemLength, u'a')});
}

#ifndef _WIN32
// Rewrites the file in place, as an editor saving over it does.
void rewrite(const std::filesystem::path& path, const std::string& bytes,
             const timespec* mtime = nullptr) {
    const int fd = ::open(path.c_str(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.data(), bytes.size()), ssize_t(bytes.size()));
    if (mtime) {
        const timespec times[2] = {*mtime, *mtime};
        ASSERT_EQ(::futimens(fd, times), 0);
    }
    ::close(fd);
}

// Many lines, so that the file takes several chunks to read.
std::string version(const std::string& word, int lines) {
    std::string bytes;
    for (int i = 0; i < lines; ++i)
        bytes += word + std::to_string(i) + '\n';
    return bytes;
}

TEST(ReadListFile, AListRewrittenWhileReadIsReadAgain) {
    struct Case {
        const char* name;
        int changes;       // reads during which the file is rewritten
        bool sameSize;     // the rewrite keeps the size, only the time moves
        int expectedReads; // reads begun
        const char* word;  // every item of a clean result starts with it
    } cases[] = {
        {"unchanged", 0, false, 1, "old"},
        {"changed once", 1, false, 2, "new1-"},
        {"changed once, same size", 1, true, 2, "new1-"},
        {"changed twice", 2, false, 3, "new2-"},
        {"keeps changing: last read used", 3, false, 3, nullptr},
    };
    for (const Case& c : cases) {
        test::TempFolder dir;
        const std::filesystem::path path = dir.filePath("namn.txt");
        dir.write("namn.txt", version("old", 20000));
        int reads = 0;
        const ListFile list = readListFile(path, [&](int read, std::int64_t bytesSoFar) {
            reads = std::max(reads, read);
            // Midway through the first chunk of the read: the rest comes from the new text.
            if (bytesSoFar <= 64 * 1024 && read <= c.changes) {
                const std::string word = "new" + std::to_string(read) + '-';
                std::string text = version(word, c.sameSize ? 20000 : 20000 + read);
                timespec later{1'000'000'000 + read, 0};
                if (c.sameSize)
                    text = text.substr(0, version("old", 20000).size());
                rewrite(path, text, c.sameSize ? &later : nullptr);
            }
        });
        ASSERT_EQ(list.status, ListStatus::Ok) << c.name;
        EXPECT_EQ(reads, c.expectedReads) << c.name;
        const std::vector<std::u16string> items = parseItems(list.text);
        if (c.word) {
            for (const std::u16string& item : items)
                ASSERT_TRUE(utf8(item).starts_with(c.word)) << c.name << ": " << utf8(item);
        } else {
            EXPECT_FALSE(items.empty()) << c.name;
        }
    }
}

TEST(ReadListFile, ClassifiesWhatCannotBeRead) {
    test::TempFolder dir;
    dir.mkdir("folder.txt");
    ASSERT_EQ(::mkfifo(dir.filePath("fifo.txt").c_str(), 0600), 0);
    ASSERT_EQ(::symlink("/dev/zero", dir.filePath("zero.txt").c_str()), 0);
    ASSERT_EQ(::symlink("nowhere", dir.filePath("dangling.txt").c_str()), 0);

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
    test::TempFolder dir;
    dir.write("secret.txt", "a\n");
    ASSERT_EQ(::chmod(dir.filePath("secret.txt").c_str(), 0), 0);
    EXPECT_EQ(readListFile(dir.filePath("secret.txt")).status, ListStatus::Unreadable);
}
#endif

} // namespace
} // namespace brumlis
