// brumlis-cli as the real program meets what a shell hands it: a reader that goes away, an
// output that is a FIFO or a device, files that are not there; each told in Swedish, in
// whatever locale it runs, with the status the README promises.
#include "support/tempdir.h"

#include <QByteArray>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QStringList>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/sysmacros.h>
#include <thread>
#include <unistd.h>

namespace brumlis {
namespace {

struct ProgramRun {
    int code = -1;
    QByteArray out;
    QString err;
};

// The program in a locale other than Swedish, so that no message can come from the C library.
ProgramRun runProgram(const QStringList& args) {
    QProcess cli;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert(QStringLiteral("LC_ALL"), QStringLiteral("C.UTF-8"));
    env.insert(QStringLiteral("LANGUAGE"), QStringLiteral("en"));
    cli.setProcessEnvironment(env);
    cli.start(QStringLiteral(BRUMLIS_CLI),
              QStringList{QStringLiteral("--data"), QStringLiteral(BRUMLIS_DATA)} + args);
    if (!cli.waitForFinished(60000))
        return {};
    return {cli.exitStatus() == QProcess::NormalExit ? cli.exitCode() : -1,
            cli.readAllStandardOutput(), QString::fromUtf8(cli.readAllStandardError())};
}

// `brumlis-cli generate | head -n 1`: the run ends at the first write after head has gone,
// with status 3 and one line on stderr, not killed by SIGPIPE.
TEST(Program, AReaderThatGoesAwayEndsTheRunWithStatusThreeAndOneLine) {
    const test::TempDir dir;
    QProcess shell;
    shell.start(QStringLiteral("bash"),
                {QStringLiteral("-c"),
                 QStringLiteral("LC_ALL=C.UTF-8 \"$0\" --data \"$1\" generate --antal 1000000000 "
                                "2>\"$2\" | head -n 1; echo \"${PIPESTATUS[0]}\""),
                 QStringLiteral(BRUMLIS_CLI), QStringLiteral(BRUMLIS_DATA),
                 dir.filePath(QStringLiteral("err"))});
    ASSERT_TRUE(shell.waitForFinished(60000));
    const QStringList lines = QString::fromUtf8(shell.readAllStandardOutput()).split(u'\n');
    ASSERT_EQ(lines.size(), 3) << lines.join(u'|').toStdString(); // the sentence, the status
    EXPECT_EQ(lines[1], QStringLiteral("3"));
    QFile err(dir.filePath(QStringLiteral("err")));
    ASSERT_TRUE(err.open(QIODevice::ReadOnly));
    EXPECT_EQ(QString::fromUtf8(err.readAll()),
              QStringLiteral("brumlis-cli: kan inte skriva utdata: röret är stängt: ingen läser "
                             "längre\n"));
}

// What the program says of each path it cannot use, and that it never replaces the thing
// a path names when that is not a regular file.
TEST(Program, TellsInSwedishWhatIsWrongWithAPath) {
    const test::TempDir dir;
    dir.mkdir(QStringLiteral("mapp"));
    ASSERT_EQ(
        ::mkfifo(QFile::encodeName(dir.filePath(QStringLiteral("ingen-läser"))).constData(), 0644),
        0);
    struct Case {
        QStringList args;
        const char* message; // stderr holds this line
        int code;
    };
    const Case cases[] = {
        {{QStringLiteral("check"), QStringLiteral("/finns-inte.brumlis")},
         "check: /finns-inte.brumlis finns inte\n",
         1},
        {{QStringLiteral("install"), QStringLiteral("/finns-inte.brumlis")},
         "install: /finns-inte.brumlis finns inte\n",
         1},
        {{QStringLiteral("render"), QStringLiteral("-o"),
          dir.filePath(QStringLiteral("nej/a.wav"))},
         ": filen eller mappen finns inte\n",
         1},
        {{QStringLiteral("render"), QStringLiteral("-o"), dir.filePath(QStringLiteral("mapp"))},
         ": är en mapp\n",
         1},
        {{QStringLiteral("render"), QStringLiteral("-o"),
          dir.filePath(QStringLiteral("ingen-läser"))},
         ": ingen läser i andra änden\n",
         1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.args.join(u' ').toStdString());
        const ProgramRun r = runProgram(c.args);
        EXPECT_EQ(r.code, c.code);
        EXPECT_TRUE(r.err.contains(QString::fromUtf8(c.message))) << r.err.toStdString();
    }
    EXPECT_TRUE(QFileInfo(dir.filePath(QStringLiteral("mapp"))).isDir());
    struct stat fifo {};
    ASSERT_EQ(
        ::stat(QFile::encodeName(dir.filePath(QStringLiteral("ingen-läser"))).constData(), &fifo),
        0);
    EXPECT_TRUE(S_ISFIFO(fifo.st_mode));
}

// A FIFO is written through, as a shell's process substitution expects; it stays a FIFO.
TEST(Program, WritesIntoAFifoInPlace) {
    const test::TempDir dir;
    const QByteArray fifo = QFile::encodeName(dir.filePath(QStringLiteral("ljud.wav")));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0644), 0);
    // Held open for writing too, so the reader sees the end only after the program is done.
    const int in = ::open(fifo.constData(), O_RDONLY | O_NONBLOCK);
    ASSERT_GE(in, 0);
    const int holder = ::open(fifo.constData(), O_WRONLY | O_NONBLOCK);
    ASSERT_GE(holder, 0);
    ::fcntl(in, F_SETFL, ::fcntl(in, F_GETFL) & ~O_NONBLOCK);
    QByteArray heard;
    std::thread reader([&] {
        char chunk[4096];
        for (ssize_t n; (n = ::read(in, chunk, sizeof chunk)) > 0;)
            heard.append(chunk, n);
    });
    const ProgramRun r =
        runProgram({QStringLiteral("render"), QStringLiteral("--frö"), QStringLiteral("1"),
                    QStringLiteral("-o"), QFile::decodeName(fifo)});
    ::close(holder);
    reader.join();
    ::close(in);
    EXPECT_EQ(r.code, 0) << r.err.toStdString();
    EXPECT_TRUE(heard.startsWith("RIFF")) << heard.size();
    EXPECT_GT(heard.size(), 10000);
    struct stat st {};
    ASSERT_EQ(::stat(fifo.constData(), &st), 0);
    EXPECT_TRUE(S_ISFIFO(st.st_mode));
    EXPECT_EQ(QDir(dir.path()).entryList(QDir::Files | QDir::Hidden | QDir::System).size(), 1);
}

// A device that refuses the bytes, as /dev/full does, is a write error with a non-zero
// status, and the device node stays. A node of the test's own: the machine's /dev/full is
// never written to replace.
TEST(Program, AFullDeviceIsAWriteErrorAndStaysADevice) {
    const test::TempDir dir;
    const QByteArray full = QFile::encodeName(dir.filePath(QStringLiteral("full")));
    if (::mknod(full.constData(), S_IFCHR | 0666, makedev(1, 7)) != 0)
        GTEST_SKIP() << "cannot make a device node here (needs root and a folder without nodev)";
    if (const int fd = ::open(full.constData(), O_WRONLY); fd < 0)
        GTEST_SKIP() << "the folder's file system does not open devices";
    else
        ::close(fd);
    const ProgramRun r =
        runProgram({QStringLiteral("render"), QStringLiteral("--frö"), QStringLiteral("1"),
                    QStringLiteral("-o"), QFile::decodeName(full)});
    EXPECT_EQ(r.code, 1);
    EXPECT_TRUE(r.err.endsWith(QStringLiteral(": disken är full\n"))) << r.err.toStdString();
    struct stat st {};
    ASSERT_EQ(::lstat(full.constData(), &st), 0);
    EXPECT_TRUE(S_ISCHR(st.st_mode));
    EXPECT_EQ(QDir(dir.path())
                  .entryList(QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot)
                  .size(),
              1);
}

} // namespace
} // namespace brumlis
