#include "cli.h"
#include "qtcli.h"
#include "support/tempdir.h"

#include <QFile>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <gtest/gtest.h>
#include <unistd.h>

namespace brumlis {
namespace {

// An output stream that refuses writes the way a full disk or a departed reader does.
struct BrokenStream {
    const char* name;
    std::FILE* (*open)();
};

std::FILE* fullDisk() {
    return std::fopen("/dev/full", "w");
}

std::FILE* closedPipe() {
    int ends[2];
    if (pipe(ends) != 0)
        return nullptr;
    close(ends[0]);
    return fdopen(ends[1], "w");
}

class CliOutput : public testing::Test {
protected:
    void SetUp() override {
        // As under `trap "" PIPE`: a closed pipe then fails the write with EPIPE.
        m_oldPipe = std::signal(SIGPIPE, SIG_IGN);
        for (const char* wordClass : {"namn", "adj", "adj_neu", "färg", "sub", "sub_neu",
                                      "sub_reale", "verb_pre", "verb_per", "prep", "plats"})
            data.write(QString::fromUtf8("text/%1.txt").arg(QString::fromUtf8(wordClass)),
                       QByteArray(wordClass) + "\n");
    }
    void TearDown() override { std::signal(SIGPIPE, m_oldPipe); }

    test::TempDir data;

private:
    void (*m_oldPipe)(int) = nullptr;
};

TEST_F(CliOutput, AFailedWriteStopsAtOnceWithAMessage) {
    const BrokenStream streams[] = {{"full disk", fullDisk}, {"closed pipe", closedPipe}};
    // A count no test could wait for: only stopping at the first failure ends it.
    const QStringList commands[] = {
        {"--data", data.path(), "generate", "--count", "1000000000"},
        {"--data", data.path(), "generate", "--json", "--count", "1000000000"},
        {"--data", data.path(), "speak", "--count", "1000000000"},
        {"--data", data.path(), "--help"},
        {"--version"},
    };
    for (const BrokenStream& broken : streams) {
        for (const QStringList& args : commands) {
            SCOPED_TRACE(std::string(broken.name) + ": " + args.join(u' ').toStdString());
            std::FILE* out = broken.open();
            ASSERT_NE(out, nullptr);
            char* errText = nullptr;
            std::size_t errSize = 0;
            std::FILE* err = open_memstream(&errText, &errSize);
            const int code = runCli(args, out, err, {});
            std::fclose(err);
            std::fclose(out);
            const QString message = QString::fromUtf8(errText, qsizetype(errSize));
            std::free(errText);
            EXPECT_EQ(code, CliWriteFailed);
            EXPECT_TRUE(message.startsWith("brumlis-cli: kan inte skriva utdata: "))
                << message.toStdString();
            EXPECT_EQ(message.count(u'\n'), 1) << message.toStdString();
        }
    }
}

TEST_F(CliOutput, HelpNamesTheDataFolderInUse) {
    char* outText = nullptr;
    std::size_t outSize = 0;
    std::FILE* out = open_memstream(&outText, &outSize);
    const int code = runCli({"--data", data.path(), "--help"}, out, stderr, {});
    std::fclose(out);
    const QString help = QString::fromUtf8(outText, qsizetype(outSize));
    std::free(outText);
    EXPECT_EQ(code, CliOk);
    EXPECT_TRUE(help.contains("Datamapp: " + data.path() + "\n")) << help.toStdString();
    for (const char* command : {"generate", "speak"})
        EXPECT_TRUE(help.contains(QStringLiteral("  %1 ").arg(QLatin1String(command))));
}

} // namespace
} // namespace brumlis
