#include "brumlis/packs/packinstaller.h"
#include "brumlis/packs/packreader.h"
#include "support/tempdir.h"
#include "zipmaker.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <functional>
#include <gtest/gtest.h>

namespace brumlis {
namespace {

using test::readAll;
using test::ZipItem;

const ZipItem Manifest{"brumlis.json", test::manifestJson("Mormor")};
const ZipItem List{"text/namn.txt", "Kalle\n"};

void writeAll(const QString& path, const QByteArray& bytes) {
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    file.write(bytes);
}

// Every file and folder under `root`, relative to it.
QStringList everything(const QString& root) {
    QStringList found;
    QDirIterator it(root, QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot,
                    QDirIterator::Subdirectories);
    while (it.hasNext())
        found << QDir(root).relativeFilePath(it.next());
    found.sort();
    return found;
}

QByteArray bytesOf(const std::vector<ZipItem>& items, const test::TempDir& dir) {
    const QString path = dir.filePath(QStringLiteral("made.zip"));
    test::writeZip(path, items);
    return readAll(path);
}

struct Hostile {
    const char* what;
    std::function<QByteArray(const test::TempDir&)> make;
    const char* message; ///< a part of the reason given
    UnpackLimits limits{};
};

// Each pack is refused as a whole, for its own reason, and nothing of it is left anywhere:
// neither beside the packs, nor where an entry tried to climb to.
TEST(HostilePack, IsRefusedAndLeavesNothing) {
    auto zip = [](std::vector<ZipItem> items) {
        return [items](const test::TempDir& dir) { return bytesOf(items, dir); };
    };
    UnpackLimits fewEntries;
    fewEntries.entries = 10;
    UnpackLimits smallFiles;
    smallFiles.fileBytes = 1024;
    UnpackLimits smallTotal;
    smallTotal.totalBytes = 3 * 1024;
    std::vector<ZipItem> elevenEntries{Manifest};
    for (int i = 0; i < 10; ++i)
        elevenEntries.push_back({"text/l" + QByteArray::number(i) + ".txt", "x"});
    std::vector<ZipItem> fourKiB{Manifest};
    for (int i = 0; i < 4; ++i)
        fourKiB.push_back({"sound/s" + QByteArray::number(i) + ".wav", QByteArray(1000, 'a')});

    const Hostile cases[] = {
        {"absolute", zip({Manifest, {"/tmp/evil.txt", "x"}}), "absolut sökväg"},
        {"drive letter", zip({Manifest, {"C:\\evil.txt", "x"}}), "absolut sökväg"},
        {"climbs", zip({Manifest, {"../evil.txt", "x"}}), "pekar ut ur sin mapp"},
        {"climbs from inside", zip({Manifest, {"sound/../../evil.wav", "x"}}),
         "pekar ut ur sin mapp"},
        {"climbs by backslash", zip({Manifest, {"sound\\..\\..\\evil.wav", "x"}}),
         "pekar ut ur sin mapp"},
        {"symbolic link", zip({Manifest, {"sound/a.wav", "/etc/passwd", S_IFLNK | 0777}}),
         "ingen vanlig fil"},
        {"linked folder", zip({Manifest, {"text/", "/etc", S_IFLNK | 0777}}), "ingen vanlig fil"},
        {"device", zip({Manifest, {"sound/a.wav", "", S_IFCHR | 0644}}), "ingen vanlig fil"},
        {"fifo", zip({Manifest, {"text/a.txt", "", S_IFIFO | 0644}}), "ingen vanlig fil"},
        {"control character in a name", zip({Manifest, {"text/a\x1b[2J.txt", "x"}}), "styrtecken"},
        {"too many entries", zip(elevenEntries), "fler än 10 poster", fewEntries},
        {"a file too large", zip({Manifest, {"sound/a.wav", QByteArray(1025, 'a')}}),
         "\"sound/a.wav\" i paketet blir större än 1 KiB uppackad", smallFiles},
        {"all too large", zip(fourKiB), "paketet blir större än 3 KiB uppackat", smallTotal},
        {"a size forged small",
         [](const test::TempDir& dir) {
             QByteArray bytes =
                 bytesOf({Manifest, {"sound/a.wav", QByteArray(64 * 1024, 'a')}}, dir);
             test::forgeUnpackedSize(bytes, "sound/a.wav", 100);
             return bytes;
         },
         "\"sound/a.wav\" i paketet blir större än 1 KiB uppackad", smallFiles},
        {"truncated",
         [](const test::TempDir& dir) {
             const QByteArray bytes = bytesOf({Manifest, List}, dir);
             return bytes.left(bytes.size() - 30);
         },
         "paketet är trasigt"},
        {"checksum wrong",
         [](const test::TempDir& dir) {
             QByteArray bytes =
                 bytesOf({Manifest, {"text/namn.txt", "Kalle\n", S_IFREG | 0644, true}}, dir);
             bytes[test::dataOf(bytes, "text/namn.txt")] = 'N';
             return bytes;
         },
         "kontrollsumman stämmer inte"},
        {"compressed data garbled",
         [](const test::TempDir& dir) {
             QByteArray bytes = bytesOf({Manifest, {"sound/a.wav", QByteArray(4000, 'a')}}, dir);
             const qsizetype at = test::dataOf(bytes, "sound/a.wav");
             for (qsizetype i = 0; i < 8; ++i)
                 bytes[at + i] = char(0xFF);
             return bytes;
         },
         "\"sound/a.wav\" i paketet är trasig"},
        {"the same name twice",
         [](const test::TempDir& dir) {
             QByteArray bytes = bytesOf({Manifest, {"text/a.txt", "1"}, {"text/b.txt", "2"}}, dir);
             const test::HeaderOffsets at = test::headersOf(bytes, "text/b.txt");
             bytes[at.local + 30 + 5] = 'a';
             bytes[at.central + 46 + 5] = 'a';
             return bytes;
         },
         "\"text/a.txt\" finns två gånger"},
        {"the same name written twice",
         zip({Manifest, {"text/a.txt", "1"}, {"./text\\a.txt", "2"}}),
         "\"text/a.txt\" finns två gånger"},
        {"not a zip file", [](const test::TempDir&) { return QByteArray("RIFF....WAVE"); },
         "paketet är trasigt"},
        {"no manifest", zip({List}), "saknar brumlis.json"},
        {"manifest not JSON", zip({{"brumlis.json", "{name: Mormor"}, List}),
         "brumlis.json i paketet är felaktig"},
        {"manifest of a later format",
         zip({{"brumlis.json", test::manifestJson("M").replace("\"format\":1", "\"format\":2")}}),
         "okänt format"},
        {"name empty", zip({{"brumlis.json", test::manifestJson("")}}), "namnet är tomt"},
        {"name holds a slash", zip({{"brumlis.json", test::manifestJson("a/b")}}),
         "namnet innehåller /"},
        {"name holds a backslash", zip({{"brumlis.json", test::manifestJson("a\\\\b")}}),
         "namnet innehåller /"},
        {"name climbs", zip({{"brumlis.json", test::manifestJson("..")}}), "namnet innehåller .."},
        {"name holds a control character", zip({{"brumlis.json", test::manifestJson("a\\nb")}}),
         "namnet innehåller styrtecken"},
    };
    for (const Hostile& c : cases) {
        SCOPED_TRACE(c.what);
        const test::TempDir sandbox;
        const QString pack = sandbox.filePath(QStringLiteral("in/hostile.brumlis"));
        sandbox.mkdir(QStringLiteral("in"));
        const test::TempDir scratch;
        writeAll(pack, c.make(scratch));
        const PackPlaces places{sandbox.filePath(QStringLiteral("home/packs")),
                                sandbox.filePath(QStringLiteral("home/applications"))};

        const PackInstall result = installPack(pack, places, {.replace = true, .limits = c.limits});
        EXPECT_FALSE(result.ok());
        EXPECT_TRUE(result.error.contains(QString::fromUtf8(c.message)))
            << result.error.toStdString();
        // The reason is printed: no control character of the archive's reaches a terminal.
        EXPECT_FALSE(result.error.contains(QChar(0x1b))) << result.error.toStdString();
        EXPECT_EQ(everything(sandbox.path()).join(u' ').toStdString(),
                  "home home/packs home/packs/.lock in in/hostile.brumlis");
        EXPECT_TRUE(result.warnings.isEmpty());
    }
}

// A limit is counted as bytes are unpacked: an entry whose headers claim 100 bytes but
// unpack to 64 KiB is stopped at the limit, with no more than the limit written.
TEST(HostilePack, AForgedSizeIsCountedNotBelieved) {
    const test::TempDir dir;
    QByteArray bytes = bytesOf({Manifest, {"sound/a.wav", QByteArray(64 * 1024, 'a')}}, dir);
    test::forgeUnpackedSize(bytes, "sound/a.wav", 100);
    writeAll(dir.filePath(QStringLiteral("forged.brumlis")), bytes);
    dir.mkdir(QStringLiteral("out"));
    UnpackLimits limits;
    limits.fileBytes = 4096;
    const PackReading reading = unpackPack(dir.filePath(QStringLiteral("forged.brumlis")),
                                           dir.filePath(QStringLiteral("out")), limits);
    EXPECT_TRUE(reading.error.contains(QStringLiteral("större än 4 KiB")))
        << reading.error.toStdString();
    EXPECT_LE(QFileInfo(dir.filePath(QStringLiteral("out/sound/a.wav"))).size(), 4096);
    EXPECT_LE(reading.bytesWritten, 4096 + Manifest.data.size());
}

TEST(UnpackLimits, DefaultsAre64MiBAFileOneGiBInAllAnd100000Entries) {
    const UnpackLimits limits;
    EXPECT_EQ(limits.fileBytes, 64 * 1024 * 1024);
    EXPECT_EQ(limits.totalBytes, 1024 * 1024 * 1024);
    EXPECT_EQ(limits.entries, 100000);
}

// What is not part of a voice is skipped with a word, folders and all; what is, is unpacked
// as it was, Windows' backslashes read as separators.
TEST(Pack, UnpacksAVoiceAndSkipsTheRest) {
    const test::TempDir dir;
    test::writeZip(dir.filePath(QStringLiteral("p.brumlis")), {{"text/", "", S_IFDIR | 0755},
                                                               Manifest,
                                                               List,
                                                               {"sound\\Kalle.WAV", "RIFF"},
                                                               {"mallar.txt", "{namn} är glad\n"},
                                                               {"tagningar/Kalle/1.wav", "raw"},
                                                               {"text/extra/a.txt", "x"},
                                                               {"./README", "hej"}});
    dir.mkdir(QStringLiteral("out"));
    const PackReading reading =
        unpackPack(dir.filePath(QStringLiteral("p.brumlis")), dir.filePath(QStringLiteral("out")));
    ASSERT_TRUE(reading.ok()) << reading.error.toStdString();
    EXPECT_EQ(reading.manifest.name, QStringLiteral("Mormor"));
    EXPECT_EQ(everything(dir.filePath(QStringLiteral("out"))),
              (QStringList{"brumlis.json", "mallar.txt", "sound", "sound/Kalle.WAV", "text",
                           "text/namn.txt"}));
    EXPECT_EQ(readAll(dir.filePath(QStringLiteral("out/text/namn.txt"))), List.data);
    ASSERT_EQ(reading.warnings.size(), 3) << reading.warnings.join(u'\n').toStdString();
    EXPECT_TRUE(
        reading.warnings[0].startsWith(QStringLiteral("\"tagningar/Kalle/1.wav\" hoppas över")));
}

// A pack whose manifest lies deeper than one folder down is refused, and the message says
// where the manifest is.
TEST(Pack, AManifestDeeperDownIsNamed) {
    const test::TempDir dir;
    test::writeZip(dir.filePath(QStringLiteral("p.brumlis")),
                   {{"Röster/Mormor/brumlis.json", Manifest.data},
                    {"Röster/Mormor/text/namn.txt", "Kalle\n"}});
    const PackReading reading = readPack(dir.filePath(QStringLiteral("p.brumlis")));
    EXPECT_EQ(reading.error.toStdString(),
              "paketet saknar brumlis.json överst: den ligger i \"Röster/Mormor/brumlis.json\", "
              "men paketets mappar text/ och sound/ ska ligga bredvid den");
}

// A link in a pack's place is neither replaced nor removed through: what it points to stays.
TEST(Pack, ALinkInAPacksPlaceIsNotFollowed) {
    const test::TempDir dir;
    dir.write(QStringLiteral("precious/text/namn.txt"), "Kalle\n");
    dir.write(QStringLiteral("precious/brumlis.json"), Manifest.data);
    const PackPlaces places{dir.filePath(QStringLiteral("packs")),
                            dir.filePath(QStringLiteral("applications"))};
    dir.mkdir(QStringLiteral("packs"));
    ASSERT_TRUE(QFile::link(dir.filePath(QStringLiteral("precious")), places.folderOf("Mormor")));
    const QString pack = dir.filePath(QStringLiteral("p.brumlis"));
    test::writeZip(pack, {Manifest, List});

    EXPECT_FALSE(installPack(pack, places, {.replace = true, .limits = {}}).ok());
    EXPECT_FALSE(uninstallPack(QStringLiteral("Mormor"), places).isEmpty());
    EXPECT_EQ(readAll(dir.filePath(QStringLiteral("precious/text/namn.txt"))), "Kalle\n");
    EXPECT_TRUE(QFileInfo(places.folderOf("Mormor")).isSymLink());
}

} // namespace
} // namespace brumlis
