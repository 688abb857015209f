// Packs as people make them by hand: one small voice zipped by each tool people have (Info-ZIP
// to a file and to a pipe, bsdtar, 7-Zip, libzip), zipped as its folder, from Windows and
// from macOS. Each archive that every zip tool reads is installed and checked whole; one
// whose voice cannot be spoken is refused, and nothing of it is installed.
#include "brumlis/packs/packinstaller.h"
#include "brumlis/soundfiles/wavfile.h"
#include "cli.h"
#include "cli/capture.h"
#include "qtcli.h"
#include "support/tempdir.h"
#include "zipmaker.h"

#include <QDir>
#include <QDirIterator>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <functional>
#include <gtest/gtest.h>

namespace brumlis {
namespace {

using test::ZipItem;

// A manifest as people write one by hand: no counts.
const QByteArray HandWrittenManifest =
    R"({"format": 1, "name": "Mormor", "language": "sv", "speaker": "Mormor", )"
    R"("licence": "CC0", "created": "2026-03-01"})";

// The voice's files: one shape, two lists, a recording for each word and the phrase.
std::vector<ZipItem> voiceFiles() {
    const QByteArray wav = encodeWav({0, 800, 0, -800, 0, 800, 0, -800}, 8000, 1);
    return {{"brumlis.json", HandWrittenManifest},
            {"mallar.txt", "[namn] \"och\" [färg]\n"},
            {"text/namn.txt", "Kalle\nBjörn\n"},
            {"text/färg.txt", "röd\nblå\n"},
            {"sound/Kalle.wav", wav},
            {"sound/Björn.wav", wav},
            {"sound/röd.wav", wav},
            {"sound/blå.wav", wav},
            {"sound/och.wav", wav}};
}

// `items` with each name made by `rename` from the UTF-8 name.
std::vector<ZipItem> renamed(std::vector<ZipItem> items,
                             const std::function<QByteArray(const QString&)>& rename) {
    for (ZipItem& item : items)
        item.name = rename(QString::fromUtf8(item.name));
    return items;
}

void writeFolder(const QString& folder, const std::vector<ZipItem>& items) {
    for (const ZipItem& item : items) {
        const QString path = folder + u'/' + QString::fromUtf8(item.name);
        QDir().mkpath(QFileInfo(path).absolutePath());
        QFile file(path);
        ASSERT_TRUE(file.open(QIODevice::WriteOnly)) << path.toStdString();
        file.write(item.data);
    }
}

int runTool(const QString& program, const QStringList& args, const QString& folder) {
    QProcess tool;
    tool.setWorkingDirectory(folder);
    tool.start(program, args);
    if (!tool.waitForFinished(60000) || tool.exitStatus() != QProcess::NormalExit) {
        ADD_FAILURE() << program.toStdString() << " did not run";
        return -1;
    }
    return tool.exitCode();
}

// Whether the archive's entries carry their sizes and checksum after the data (flag bit 3),
// as zip tools writing to a stream do: what the case is there for.
bool usesDataDescriptors(const QString& zip) {
    QProcess info;
    info.start(QStringLiteral("zipinfo"), {QStringLiteral("-v"), zip});
    return info.waitForFinished(60000) &&
           info.readAllStandardOutput().contains(
               "extended local header:                          yes");
}

struct InstallRun {
    int code = -1;
    QString out;
    QString err;
};

InstallRun runPackCli(const QStringList& args) {
    test::Capture out, err;
    InstallRun result;
    result.code = runCli(args, out.stream(), err.stream(), {});
    result.out = out.text();
    result.err = err.text();
    return result;
}

// Where an archive is made: `work` holds the folder "Mormor" with the voice's files.
struct Maker {
    QString work;
    QString voice() const { return work + QStringLiteral("/Mormor"); }
    QString zip() const { return work + QStringLiteral("/Mormor.brumlis"); }
};

const QStringList Contents{QStringLiteral("brumlis.json"), QStringLiteral("mallar.txt"),
                           QStringLiteral("text"), QStringLiteral("sound")};

struct Archive {
    const char* name;
    std::function<void(const Maker&)> make;
    const char* refused = nullptr; ///< what the refusal says; nullptr: installed
};

TEST(PackFromZipTools, InstallsWhatEveryZipToolReadsAndChecksItWhole) {
    const Archive archives[] = {
        {"Info-ZIP zip",
         [](const Maker& m) {
             writeFolder(m.voice(), voiceFiles());
             ASSERT_EQ(runTool(QStringLiteral("zip"),
                               QStringList{QStringLiteral("-qr"), m.zip()} + Contents, m.voice()),
                       0);
         }},
        {"Info-ZIP zip writing to a pipe (data descriptors)",
         [](const Maker& m) {
             writeFolder(m.voice(), voiceFiles());
             ASSERT_EQ(runTool(QStringLiteral("bash"),
                               {QStringLiteral("-c"),
                                QStringLiteral("zip -qr - brumlis.json mallar.txt text sound | "
                                               "cat >\"$0\""),
                                m.zip()},
                               m.voice()),
                       0);
             EXPECT_TRUE(usesDataDescriptors(m.zip()));
         }},
        {"bsdtar (data descriptors)",
         [](const Maker& m) {
             writeFolder(m.voice(), voiceFiles());
             ASSERT_EQ(runTool(QStringLiteral("bsdtar"),
                               QStringList{QStringLiteral("--format=zip"), QStringLiteral("-cf"),
                                           m.zip()} +
                                   Contents,
                               m.voice()),
                       0);
             EXPECT_TRUE(usesDataDescriptors(m.zip()));
         }},
        {"7-Zip",
         [](const Maker& m) {
             writeFolder(m.voice(), voiceFiles());
             ASSERT_EQ(
                 runTool(QStringLiteral("7z"),
                         QStringList{QStringLiteral("a"), QStringLiteral("-tzip"),
                                     QStringLiteral("-bd"), QStringLiteral("-bso0"), m.zip()} +
                             Contents,
                         m.voice()),
                 0);
         }},
        {"the folder itself, zipped",
         [](const Maker& m) {
             writeFolder(m.voice(), voiceFiles());
             ASSERT_EQ(runTool(QStringLiteral("zip"),
                               {QStringLiteral("-qr"), m.zip(), QStringLiteral("Mormor")}, m.work),
                       0);
         }},
        {"a folder from Windows: Text\\, Sound\\, Thumbs.db",
         [](const Maker& m) {
             std::vector<ZipItem> files = renamed(voiceFiles(), [](const QString& name) {
                 QString windows = name;
                 windows.replace(QStringLiteral("text/"), QStringLiteral("Text/"))
                     .replace(QStringLiteral("sound/"), QStringLiteral("Sound/"));
                 return windows.toUtf8();
             });
             files.push_back({"Sound/Thumbs.db", "cache"});
             writeFolder(m.voice(), files);
             ASSERT_EQ(runTool(QStringLiteral("bsdtar"),
                               {QStringLiteral("--format=zip"), QStringLiteral("-cf"), m.zip(),
                                QStringLiteral("Mormor")},
                               m.work),
                       0);
         }},
        {"Windows Explorer: names in code page 437 without the UTF-8 flag",
         [](const Maker& m) {
             test::writeZip(m.zip(), renamed(voiceFiles(), [](const QString& name) {
                                QByteArray dos;
                                for (const QChar c : name)
                                    dos += c == u'å'   ? '\x86'
                                           : c == u'ä' ? '\x84'
                                           : c == u'ö' ? '\x94'
                                                       : char(c.unicode());
                                return dos;
                            }));
         }},
        {"macOS: decomposed names, __MACOSX, ._ files and .DS_Store under the folder",
         [](const Maker& m) {
             std::vector<ZipItem> files = renamed(voiceFiles(), [](const QString& name) {
                 return (QStringLiteral("Mormor/") + name)
                     .normalized(QString::NormalizationForm_D)
                     .toUtf8();
             });
             files.push_back({"Mormor/.DS_Store", "Finder"});
             files.push_back({"Mormor/text/._namn.txt", "fork"});
             files.push_back({"__MACOSX/Mormor/text/._fa\xcc\x88rg.txt", "fork"});
             files.push_back({"__MACOSX/Mormor/._sound", "fork"});
             test::writeZip(m.zip(), files);
         }},
        {"names in Windows-1252 bytes, which the zip format reads as code page 437",
         [](const Maker& m) {
             test::writeZip(m.zip(), renamed(voiceFiles(),
                                             [](const QString& name) { return name.toLatin1(); }));
         },
         "text/färg.txt existerar inte"},
        {"only a manifest",
         [](const Maker& m) {
             test::writeZip(m.zip(), {{"brumlis.json", HandWrittenManifest}});
         },
         "check hittar"},
    };
    for (const Archive& archive : archives) {
        SCOPED_TRACE(archive.name);
        const test::TempDir dir;
        const QString home = dir.filePath(QStringLiteral("home"));
        qputenv("XDG_DATA_HOME", QFile::encodeName(home));
        const Maker maker{dir.path()};
        archive.make(maker);
        ASSERT_TRUE(QFileInfo::exists(maker.zip()));
        // The judge of what is a valid zip.
        EXPECT_EQ(
            runTool(QStringLiteral("unzip"), {QStringLiteral("-tq"), maker.zip()}, dir.path()), 0);

        const InstallRun installed = runPackCli({QStringLiteral("install"), maker.zip()});
        const QString folder = home + QStringLiteral("/brumlis/packs/Mormor");
        if (archive.refused) {
            EXPECT_EQ(installed.code, 1);
            EXPECT_TRUE(installed.err.contains(QString::fromUtf8(archive.refused)))
                << installed.err.toStdString();
            EXPECT_FALSE(QFileInfo::exists(folder));
            EXPECT_TRUE(QDir(home + QStringLiteral("/applications")).isEmpty());
            continue;
        }
        ASSERT_EQ(installed.code, 0) << installed.err.toStdString();
        EXPECT_EQ(installed.out, folder + u'\n');
        // At most one line for everything macOS and Windows put beside the voice.
        EXPECT_LE(installed.err.count(QStringLiteral("hoppas över")), 1)
            << installed.err.toStdString();
        EXPECT_EQ(runPackCli({QStringLiteral("check"), maker.zip()}).code, 0);

        // Installed as if made here: every name found exactly, nothing but the voice.
        const InstallRun checked = runPackCli(
            {QStringLiteral("--data"), folder, QStringLiteral("check"), QStringLiteral("--json")});
        EXPECT_EQ(checked.code, 0) << checked.out.toStdString();
        const QJsonObject report = QJsonDocument::fromJson(checked.out.toUtf8()).object();
        EXPECT_TRUE(report[QStringLiteral("problems")].toArray().isEmpty())
            << checked.out.toStdString();
        QStringList files;
        QDirIterator it(folder, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
        while (it.hasNext())
            files << QDir(folder).relativeFilePath(it.next());
        files.sort();
        EXPECT_EQ(files.join(u' ').toStdString(),
                  "brumlis.json mallar.txt sound/Björn.wav sound/Kalle.wav sound/blå.wav "
                  "sound/och.wav sound/röd.wav text/färg.txt text/namn.txt");

        // What it holds, counted from its files: the manifest said nothing.
        const QJsonArray packs =
            QJsonDocument::fromJson(
                runPackCli({QStringLiteral("packs"), QStringLiteral("--json")}).out.toUtf8())
                .array();
        ASSERT_EQ(packs.size(), 1);
        EXPECT_EQ(packs[0][QStringLiteral("words")].toInt(), 4);
        EXPECT_EQ(packs[0][QStringLiteral("recordings")].toInt(), 5);
    }
    qunsetenv("XDG_DATA_HOME");
}

} // namespace
} // namespace brumlis
