// pack, install, packs, uninstall and check FIL.brumlis as brumlis-cli runs them: in process
// for what they print, and as the real program for an install stopped mid-way.
#include "brumlis/packs/packinstaller.h"
#include "cli.h"
#include "cli/capture.h"
#include "qtcli.h"
#include "support/tempdir.h"
#include "zipmaker.h"

#include <QDir>
#include <QDirIterator>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QProcess>
#include <gtest/gtest.h>
#include <sys/resource.h>

namespace brumlis {
namespace {

using test::readAll;

struct CliRun {
    int code = -1;
    QString out;
    QString err;
};

// Every file under `root` with its bytes: what a folder holds, to compare.
QMap<QString, QByteArray> contentsOf(const QString& root) {
    QMap<QString, QByteArray> files;
    QDirIterator it(root, QDir::Files | QDir::Hidden, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        files.insert(QDir(root).relativeFilePath(path), readAll(path));
    }
    return files;
}

void copyFolder(const QString& from, const QString& to) {
    QDirIterator it(from, QDir::Files, QDirIterator::Subdirectories);
    while (it.hasNext()) {
        const QString path = it.next();
        const QString target = to + u'/' + QDir(from).relativeFilePath(path);
        QDir().mkpath(QFileInfo(target).absolutePath());
        ASSERT_TRUE(QFile::copy(path, target)) << target.toStdString();
    }
}

// A user's home of their own: XDG_DATA_HOME for the commands run in process and as programs.
class PackCommands : public ::testing::Test {
protected:
    void SetUp() override {
        m_oldHome = qgetenv("XDG_DATA_HOME");
        m_hadHome = qEnvironmentVariableIsSet("XDG_DATA_HOME");
        qputenv("XDG_DATA_HOME", QFile::encodeName(home()));
    }
    void TearDown() override {
        if (m_hadHome)
            qputenv("XDG_DATA_HOME", m_oldHome);
        else
            qunsetenv("XDG_DATA_HOME");
    }

    QString home() const { return m_dir.filePath(QStringLiteral("home")); }
    void writeFile(const QString& relative, const QByteArray& bytes) const {
        m_dir.write(relative, bytes);
    }
    QString path(const QString& relative) const { return m_dir.filePath(relative); }
    PackPlaces places() const {
        return {home() + QStringLiteral("/brumlis/packs"),
                home() + QStringLiteral("/applications")};
    }

    CliRun cli(const QStringList& args) const {
        test::Capture out, err;
        CliRun result;
        result.code = runCli(args, out.stream(), err.stream(), {});
        result.out = out.text();
        result.err = err.text();
        return result;
    }

    // The bundled voice, with what a pack leaves out and a shape file of its own.
    QString voiceFolder() const {
        const QString folder = path(QStringLiteral("Farmor"));
        if (!QFileInfo::exists(folder)) {
            copyFolder(QStringLiteral(BRUMLIS_DATA), folder);
            m_dir.write(QStringLiteral("Farmor/mallar.txt"), "[namn] \"tycker att\" [namn]\n");
            m_dir.write(QStringLiteral("Farmor/tagningar/Kalle/1.wav"), "raw take");
            m_dir.write(QStringLiteral("Farmor/anteckningar.txt"), "notes");
        }
        return folder;
    }

private:
    test::TempDir m_dir;
    QByteArray m_oldHome;
    bool m_hadHome = false;
};

// The same folder packed twice gives the same bytes; installed, it speaks as the folder
// did, check finds it whole, and it is listed until it is removed.
TEST_F(PackCommands, RoundTrip) {
    const QString folder = voiceFolder();
    const QString a = path(QStringLiteral("a.brumlis"));
    const QString b = path(QStringLiteral("b.brumlis"));
    const CliRun packed =
        cli({QStringLiteral("--data"), folder, QStringLiteral("pack"), QStringLiteral("-o"), a,
             QStringLiteral("--talare"), QStringLiteral("Farmor Elsa"), QStringLiteral("--licens"),
             QStringLiteral("CC BY 4.0"), QStringLiteral("--språk"), QStringLiteral("sv-FI")});
    ASSERT_EQ(packed.code, 0) << packed.err.toStdString();
    EXPECT_TRUE(packed.out.startsWith(QStringLiteral("Packade rösten \"Farmor\": ")))
        << packed.out.toStdString();
    ASSERT_EQ(cli({QStringLiteral("--data"), folder, QStringLiteral("pack"), QStringLiteral("-o"),
                   b, QStringLiteral("--speaker"), QStringLiteral("Farmor Elsa"),
                   QStringLiteral("--licence"), QStringLiteral("CC BY 4.0"),
                   QStringLiteral("--language"), QStringLiteral("sv-FI")})
                  .code,
              0);
    EXPECT_EQ(readAll(a), readAll(b));

    const CliRun checked = cli({QStringLiteral("check"), a});
    EXPECT_EQ(checked.code, 0) << checked.out.toStdString() << checked.err.toStdString();
    EXPECT_TRUE(checked.out.startsWith(QStringLiteral("Rösten \"Farmor\" i ")));
    EXPECT_TRUE(checked.out.contains(QStringLiteral("talare Farmor Elsa, licens CC BY 4.0")));

    const CliRun installed = cli({QStringLiteral("install"), a});
    ASSERT_EQ(installed.code, 0) << installed.err.toStdString();
    const QString target = places().folderOf(QStringLiteral("Farmor"));
    EXPECT_EQ(installed.out, target + u'\n');
    // What the folder holds for speaking, and nothing it keeps at home.
    QMap<QString, QByteArray> expected = contentsOf(folder);
    expected.remove(QStringLiteral("tagningar/Kalle/1.wav"));
    expected.remove(QStringLiteral("anteckningar.txt"));
    QMap<QString, QByteArray> got = contentsOf(target);
    ASSERT_TRUE(got.contains(QStringLiteral("brumlis.json")));
    got.remove(QStringLiteral("brumlis.json"));
    EXPECT_EQ(got, expected);

    const QStringList generate{QStringLiteral("generate"), QStringLiteral("--seed"),
                               QStringLiteral("7"), QStringLiteral("--count"), QStringLiteral("5")};
    const CliRun original = cli(QStringList{QStringLiteral("--data"), folder} + generate);
    const CliRun fromPack = cli(QStringList{QStringLiteral("--data"), target} + generate);
    EXPECT_EQ(fromPack.code, 0) << fromPack.err.toStdString();
    EXPECT_EQ(fromPack.out, original.out);
    EXPECT_TRUE(fromPack.out.contains(QStringLiteral(" tycker att ")));
    EXPECT_EQ(cli({QStringLiteral("--data"), target, QStringLiteral("check")}).code, 0);

    const CliRun listed = cli({QStringLiteral("packs"), QStringLiteral("--json")});
    const QJsonArray packs = QJsonDocument::fromJson(listed.out.toUtf8()).array();
    ASSERT_EQ(packs.size(), 1) << listed.out.toStdString();
    EXPECT_EQ(packs[0][QStringLiteral("name")].toString(), QStringLiteral("Farmor"));
    EXPECT_EQ(packs[0][QStringLiteral("speaker")].toString(), QStringLiteral("Farmor Elsa"));
    EXPECT_EQ(packs[0][QStringLiteral("language")].toString(), QStringLiteral("sv-FI"));
    EXPECT_EQ(packs[0][QStringLiteral("folder")].toString(), target);
    EXPECT_EQ(packs[0][QStringLiteral("recordings")].toInt(),
              QDir(folder + QStringLiteral("/sound")).entryList(QDir::Files).size());
    // The words that check finds in the lists the shapes use, fixed phrases not counted.
    const QJsonObject report =
        QJsonDocument::fromJson(cli({QStringLiteral("--data"), folder, QStringLiteral("check"),
                                     QStringLiteral("--json")})
                                    .out.toUtf8())
            .object();
    qsizetype words = 0;
    for (const QJsonValue word : report[QStringLiteral("words")].toArray())
        words += word[QStringLiteral("lists")].toArray().isEmpty() ? 0 : 1;
    EXPECT_GT(words, 0);
    EXPECT_EQ(packs[0][QStringLiteral("words")].toInt(), words);
    EXPECT_TRUE(QFileInfo::exists(places().menuEntryOf(QStringLiteral("Farmor"))));

    // Once there, the name is taken until --ersätt (typed in ASCII here).
    const CliRun again = cli({QStringLiteral("install"), a});
    EXPECT_EQ(again.code, 1);
    EXPECT_TRUE(again.err.contains(QStringLiteral("--ersätt")));
    EXPECT_EQ(cli({QStringLiteral("install"), a, QStringLiteral("--ersatt")}).code, 0);

    EXPECT_EQ(cli({QStringLiteral("uninstall"), QStringLiteral("Farmor")}).code, 0);
    EXPECT_FALSE(QFileInfo::exists(target));
    EXPECT_FALSE(QFileInfo::exists(places().menuEntryOf(QStringLiteral("Farmor"))));
    EXPECT_EQ(cli({QStringLiteral("packs")}).out, QStringLiteral("Inga röster är installerade.\n"));
    EXPECT_EQ(cli({QStringLiteral("uninstall"), QStringLiteral("Farmor")}).code, 1);
}

// A folder with a word that cannot be said is packed only when asked to.
TEST_F(PackCommands, AFolderThatCannotBeSpokenIsPackedOnlyWithAnyway) {
    const QString folder = voiceFolder();
    ASSERT_TRUE(QFile::remove(folder + QStringLiteral("/sound/tycker_att.wav")));
    const QStringList pack{QStringLiteral("--data"), folder, QStringLiteral("pack"),
                           QStringLiteral("-o"), path(QStringLiteral("x.brumlis"))};
    const CliRun refused = cli(pack);
    EXPECT_EQ(refused.code, 1);
    EXPECT_TRUE(refused.err.startsWith(
        QStringLiteral("pack: check hittar fel i mappen (1 ord kan inte sägas)")))
        << refused.err.toStdString();
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("x.brumlis"))));
    EXPECT_EQ(cli(pack + QStringList{QStringLiteral("--ändå"), QStringLiteral("--language"),
                                     QStringLiteral("../sv")})
                  .code,
              2);
    EXPECT_EQ(cli(pack + QStringList{QStringLiteral("--ändå")}).code, 0);
    EXPECT_EQ(cli({QStringLiteral("check"), path(QStringLiteral("x.brumlis"))}).code, 1);
}

// A pack that is refused is told in one line with status 1, by install and by check alike.
TEST_F(PackCommands, HostilePacksAreRefusedWithStatusOne) {
    const QString pack = path(QStringLiteral("evil.brumlis"));
    test::writeZip(pack, {{"brumlis.json", test::manifestJson("Ond")}, {"../../evil.txt", "x"}});
    for (const char* command : {"install", "check"}) {
        const CliRun r = cli({QString::fromLatin1(command), pack});
        EXPECT_EQ(r.code, 1) << command;
        EXPECT_EQ(r.err,
                  QStringLiteral("%1: %2 %3: \"../../evil.txt\" i paketet pekar ut ur sin mapp\n")
                      .arg(QLatin1String(command), pack,
                           QLatin1String(command[0] == 'i' ? "installeras inte" : "avvisas")));
    }
    EXPECT_FALSE(QFileInfo::exists(path(QStringLiteral("evil.txt"))));
    EXPECT_FALSE(QFileInfo::exists(places().folderOf(QStringLiteral("Ond"))));
}

// Each menu entry is valid for desktop-file-validate, whatever the name holds.
TEST_F(PackCommands, MenuEntriesAreValidForAnyName) {
    const QString names[] = {QStringLiteral("Mormor"), QStringLiteral("Morfar Åke"),
                             QStringLiteral("\"$HOME\" `id` ; & | 100 %"),
                             QStringLiteral("a=b # [c]")};
    for (const QString& name : names) {
        const QString file = path(QStringLiteral("entry.desktop"));
        QFile entry(file);
        ASSERT_TRUE(entry.open(QIODevice::WriteOnly | QIODevice::Truncate));
        PackManifest manifest;
        manifest.name = name;
        manifest.words = 196;
        manifest.recordings = 1;
        entry.write(menuEntry(manifest, places().folderOf(name)));
        entry.close();
        QProcess validate;
        validate.start(QStringLiteral("desktop-file-validate"), {file});
        ASSERT_TRUE(validate.waitForFinished());
        EXPECT_EQ(validate.exitCode(), 0)
            << name.toStdString() << ": " << validate.readAllStandardOutput().toStdString();
        EXPECT_TRUE(readAll(file).contains("\nName=Brumlis – " + name.toUtf8() + '\n'));
        EXPECT_TRUE(readAll(file).contains(" (196 ord, 1 inspelning)\n"));
    }
}

// An install killed while it unpacks (its file size limit stops it at the first recording)
// leaves the old pack whole; the next install clears what the killed one left.
TEST_F(PackCommands, AnInstallKilledMidWayLeavesTheOldPackWhole) {
    const QString folder = voiceFolder();
    const QString pack = path(QStringLiteral("Farmor.brumlis"));
    ASSERT_EQ(
        cli({QStringLiteral("--data"), folder, QStringLiteral("pack"), QStringLiteral("-o"), pack})
            .code,
        0);
    ASSERT_EQ(cli({QStringLiteral("install"), pack}).code, 0);
    const QString target = places().folderOf(QStringLiteral("Farmor"));
    const QMap<QString, QByteArray> before = contentsOf(target);

    // The same voice, changed: every list a word longer.
    for (const QString& list : QDir(folder + QStringLiteral("/text")).entryList(QDir::Files)) {
        QFile file(folder + QStringLiteral("/text/") + list);
        ASSERT_TRUE(file.open(QIODevice::Append));
        file.write("\nNytt\n");
    }
    const QString newer = path(QStringLiteral("Farmor2.brumlis"));
    ASSERT_EQ(cli({QStringLiteral("--data"), folder, QStringLiteral("pack"), QStringLiteral("-o"),
                   newer, QStringLiteral("--ändå")})
                  .code,
              0);

    constexpr rlim_t Cut = 4096; // below every bundled recording's size
    QProcess install;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("XDG_DATA_HOME"), home());
    install.setProcessEnvironment(env);
    install.setChildProcessModifier([] {
        const rlimit size{Cut, Cut};
        ::setrlimit(RLIMIT_FSIZE, &size);
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
    });
    install.start(QStringLiteral(BRUMLIS_CLI),
                  {QStringLiteral("install"), newer, QStringLiteral("--replace")});
    ASSERT_TRUE(install.waitForFinished(60000));
    ASSERT_EQ(install.exitStatus(), QProcess::CrashExit) << "finished without being stopped";
    // It was stopped while unpacking, beside the pack.
    const QStringList leftovers =
        QDir(places().packs).entryList({QStringLiteral(".install-*")}, QDir::Dirs | QDir::Hidden);
    ASSERT_EQ(leftovers.size(), 1);

    EXPECT_EQ(contentsOf(target), before);
    const CliRun listed = cli({QStringLiteral("packs"), QStringLiteral("--json")});
    EXPECT_EQ(QJsonDocument::fromJson(listed.out.toUtf8()).array().size(), 1);

    ASSERT_EQ(cli({QStringLiteral("install"), newer, QStringLiteral("--replace")}).code, 0);
    EXPECT_TRUE(readAll(target + QStringLiteral("/text/namn.txt")).endsWith("Nytt\n"));
    EXPECT_TRUE(QDir(places().packs)
                    .entryList({QStringLiteral(".install-*"), QStringLiteral(".old-*")},
                               QDir::Dirs | QDir::Hidden)
                    .isEmpty());
}

// A pack stopped while it is written (its file size limit stops it) leaves the file it was
// to replace as it was: the new one has its name only once it is whole.
TEST_F(PackCommands, AnInterruptedPackLeavesTheOldFileWhole) {
    const QString folder = voiceFolder();
    const QString pack = path(QStringLiteral("Farmor.brumlis"));
    writeFile(QStringLiteral("Farmor.brumlis"), "the pack before");

    constexpr rlim_t Cut = 64 * 1024; // below the bundled voice's pack
    QProcess cli;
    cli.setChildProcessModifier([] {
        const rlimit size{Cut, Cut};
        ::setrlimit(RLIMIT_FSIZE, &size);
        const rlimit noCore{0, 0};
        ::setrlimit(RLIMIT_CORE, &noCore);
    });
    cli.start(QStringLiteral(BRUMLIS_CLI), {QStringLiteral("--data"), folder,
                                            QStringLiteral("pack"), QStringLiteral("-o"), pack});
    ASSERT_TRUE(cli.waitForFinished(60000));
    ASSERT_EQ(cli.exitStatus(), QProcess::CrashExit) << "finished without being stopped";
    EXPECT_EQ(readAll(pack), "the pack before");
}

} // namespace
} // namespace brumlis
