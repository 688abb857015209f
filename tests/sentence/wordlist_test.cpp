#include "brumlis/sentence/wordlist.h"
#include "support/tempdir.h"

#include <QStringList>
#include <algorithm>
#include <fcntl.h>
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

TEST(ParseItems, MegabyteLineIsOneItemCutToTheLimit) {
    const QString line(1 << 20, u'x');
    const QStringList items = parseItems(line + QString::fromUtf8("\nnästa"));
    ASSERT_EQ(items.size(), 2);
    EXPECT_EQ(items.first(), QString(MaxItemLength, u'x'));
    EXPECT_EQ(items.last(), QString::fromUtf8("nästa"));
}

TEST(ParseItems, LongItemsAreCutAtAWholeCharacter) {
    const QString smile = QString::fromUtf8("\xF0\x9F\x98\x80"); // one character, two code units
    const QString x999(MaxItemLength - 1, u'x');
    struct Case {
        const char* name;
        QString text;
        QString first;
    } cases[] = {
        {"exactly the limit", QString(MaxItemLength, u'a'), QString(MaxItemLength, u'a')},
        {"2,000 characters", QString(2000, u'a') + QStringLiteral(",b"),
         QString(MaxItemLength, u'a')},
        {"quoted", u'"' + QString(2000, u'q') + u'"', QString(MaxItemLength, u'q')},
        {"pair across the limit", x999 + smile + u'y', x999},
        {"pair just inside", QString(MaxItemLength - 2, u'x') + smile + u'y',
         QString(MaxItemLength - 2, u'x') + smile},
    };
    for (const Case& c : cases) {
        ItemReader reader(c.text);
        QString item;
        ASSERT_TRUE(reader.next(&item)) << c.name;
        EXPECT_EQ(item, c.first) << c.name;
    }
}

struct LineCase {
    const char* name;
    QByteArray bytes;
    QStringList items;
    ListEncoding encoding;
};

class DecodeEachLine : public testing::TestWithParam<LineCase> {};

TEST_P(DecodeEachLine, KeepsEachLinesOwnEncoding) {
    const DecodedList decoded = decodeList(GetParam().bytes);
    EXPECT_EQ(parseItems(decoded.text), GetParam().items);
    EXPECT_EQ(decoded.encoding, GetParam().encoding);
}

INSTANTIATE_TEST_SUITE_P(
    Lines, DecodeEachLine,
    testing::Values(
        LineCase{
            "StrayByteSpoilsOnlyItsLine",
            QByteArray("Bj\xc3\xb6rn\nG\xc3\xb6ran\nAnna\xe9"),
            {QString::fromUtf8("Björn"), QString::fromUtf8("Göran"), QString::fromUtf8("Annaé")},
            ListEncoding::Mixed},
        LineCase{"CrLfAndLoneCrSeparateLines",
                 QByteArray("\xe5\r\n\xc3\xa5\r\xe4\r\n"),
                 {QString::fromUtf8("å"), QString::fromUtf8("å"), QString::fromUtf8("ä")},
                 ListEncoding::Mixed},
        LineCase{"AllWindows1252",
                 QByteArray("G\xf6ran\nabc\n\x80"),
                 {QString::fromUtf8("Göran"), "abc", QString::fromUtf8("€")},
                 ListEncoding::Windows1252},
        LineCase{"AllUtf8",
                 QByteArray("G\xc3\xb6ran\nabc"),
                 {QString::fromUtf8("Göran"), "abc"},
                 ListEncoding::Utf8},
        // Overlong forms and encoded surrogates are not UTF-8.
        LineCase{"OverlongIsNotUtf8",
                 QByteArray("\xe0\x80\xaf\n\xc3\xa4"),
                 {QString::fromUtf8("à€¯"), QString::fromUtf8("ä")},
                 ListEncoding::Mixed},
        LineCase{"SurrogateIsNotUtf8",
                 QByteArray("\xed\xa0\x80\n\xf0\x9f\x98\x80"),
                 {QString::fromUtf8("í\xc2\xa0€"), QString::fromUtf8("\xF0\x9F\x98\x80")},
                 ListEncoding::Mixed},
        LineCase{"CutSequenceAtLineEnd",
                 QByteArray("\xc3\n\xa4"),
                 {QString::fromUtf8("Ã"), QString::fromUtf8("¤")},
                 ListEncoding::Windows1252},
        // With a mark the whole file is read one way, as before.
        LineCase{"BomKeepsTheWholeFileTogether",
                 QByteArray("\xef\xbb\xbf\xc3\xa5\n\xe5"),
                 {QString::fromUtf8("Ã¥"), QString::fromUtf8("å")},
                 ListEncoding::Windows1252}),
    [](const testing::TestParamInfo<LineCase>& info) { return std::string(info.param.name); });

TEST(ReadListFile, ReadsRegularFileInAnyEncoding) {
    test::TempDir dir;
    dir.write("utf16.txt", QByteArray("\xff\xfe"
                                      "\xc5\0s\0a\0\r\0\n\0",
                                      12));
    const ListFile list = readListFile(dir.filePath("utf16.txt"));
    ASSERT_EQ(list.status, ListStatus::Ok);
    EXPECT_EQ(parseItems(list.text), QStringList{QString::fromUtf8("Åsa")});
}

TEST(ReadListFile, RefusesAListOverTheLimit) {
    test::TempDir dir;
    dir.write("big.txt", QByteArray(17 * 1024 * 1024, 'a'));
    dir.write("limit.txt", QByteArray(MaxListBytes, 'a'));
    EXPECT_EQ(readListFile(dir.filePath("big.txt")).status, ListStatus::TooLarge);
    const ListFile limit = readListFile(dir.filePath("limit.txt"));
    ASSERT_EQ(limit.status, ListStatus::Ok);
    EXPECT_EQ(parseItems(limit.text), QStringList{QString(MaxItemLength, u'a')});
}

// Rewrites the file in place, as an editor saving over it does.
void rewrite(const QString& path, const QByteArray& bytes, const timespec* mtime = nullptr) {
    const QByteArray native = QFile::encodeName(path);
    const int fd = ::open(native.constData(), O_WRONLY | O_TRUNC);
    ASSERT_GE(fd, 0);
    ASSERT_EQ(::write(fd, bytes.constData(), size_t(bytes.size())), bytes.size());
    if (mtime) {
        const timespec times[2] = {*mtime, *mtime};
        ASSERT_EQ(::futimens(fd, times), 0);
    }
    ::close(fd);
}

// Many lines, so that the file takes several chunks to read.
QByteArray version(const char* word, int lines) {
    QByteArray bytes;
    for (int i = 0; i < lines; ++i)
        bytes += word + QByteArray::number(i) + '\n';
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
        test::TempDir dir;
        const QString path = dir.filePath("namn.txt");
        dir.write("namn.txt", version("old", 20000));
        int reads = 0;
        const ListFile list = readListFile(path, [&](int read, qint64 bytesSoFar) {
            reads = std::max(reads, read);
            // Midway through the first chunk of the read: the rest comes from the new text.
            if (bytesSoFar <= 64 * 1024 && read <= c.changes) {
                const QByteArray word = "new" + QByteArray::number(read) + '-';
                QByteArray text = version(word.constData(), c.sameSize ? 20000 : 20000 + read);
                timespec later{1'000'000'000 + read, 0};
                if (c.sameSize)
                    text = text.left(version("old", 20000).size());
                rewrite(path, text, c.sameSize ? &later : nullptr);
            }
        });
        ASSERT_EQ(list.status, ListStatus::Ok) << c.name;
        EXPECT_EQ(reads, c.expectedReads) << c.name;
        const QStringList items = parseItems(list.text);
        if (c.word) {
            for (const QString& item : items)
                ASSERT_TRUE(item.startsWith(QLatin1String(c.word)))
                    << c.name << ": " << qPrintable(item);
        } else {
            EXPECT_FALSE(items.isEmpty()) << c.name;
        }
    }
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
