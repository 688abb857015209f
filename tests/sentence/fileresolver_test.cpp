#include "brumlis/sentence/fileresolver.h"
#include "support/tempdir.h"

#include <QFile>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace brumlis {
namespace {

// Creates an empty file whose name is given as raw bytes, as an archive tool might.
void touchBytes(const QByteArray& path) {
    const int fd = ::open(path.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    ASSERT_GE(fd, 0) << path.constData();
    ::close(fd);
}

QByteArray nfd(const QString& text) {
    return text.normalized(QString::NormalizationForm_D).toUtf8();
}

TEST(FileResolver, FindsRecordingsTheWayWindowsWould) {
    test::TempDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    dir.mkdir(QStringLiteral("sound/djur"));
    for (const QByteArray& name :
         {QByteArray("sound/Kalle.wav"), QByteArray("sound/åsa.wav"), QByteArray("sound/Bo.wav"),
          QByteArray("sound/bo.wav"), QByteArray("sound/röd bil.wav"),
          QByteArray("sound/djur/katt.wav"), QByteArray("hemlig.wav"),
          "sound/" + nfd(QStringLiteral("Göran")) + ".wav",
          // "Märta" as Windows-1252 bytes: ä is the single byte E4.
          QByteArray("sound/M\xE4rta.wav"),
          // Both a composed É and a decomposed é: ignoring case alone must win first.
          QByteArray("sound/É.wav"), "sound/" + nfd(QStringLiteral("é")) + ".wav"})
        touchBytes(root + '/' + name);

    struct Case {
        const char* label;
        QString path;
        QByteArray expected; // relative to the data folder; empty means nothing to play
        FileResolver::Match match = FileResolver::Match::None;
    };
    using M = FileResolver::Match;
    const Case cases[] = {
        {"exact", QStringLiteral("sound/Kalle.wav"), "sound/Kalle.wav", M::Exact},
        {"backslash separators", QStringLiteral("sound\\Kalle.wav"), "sound/Kalle.wav", M::Exact},
        {"blank kept", QStringLiteral("sound\\röd bil.wav"), "sound/röd bil.wav", M::Exact},
        {"case of ASCII", QStringLiteral("sound\\kalle.WAV"), "sound/Kalle.wav", M::Case},
        {"case of Å", QStringLiteral("sound\\Åsa.wav"), "sound/åsa.wav", M::Case},
        {"case of the folder too", QStringLiteral("SOUND\\ÅSA.WAV"), "sound/åsa.wav", M::Case},
        {"exact beats a case match", QStringLiteral("sound/bo.wav"), "sound/bo.wav", M::Exact},
        {"several case matches: first by bytes", QStringLiteral("sound/BO.wav"), "sound/Bo.wav",
         M::Case},
        {"NFC asked, NFD stored", QStringLiteral("sound\\Göran.wav"),
         "sound/" + nfd(QStringLiteral("Göran")) + ".wav", M::Form},
        {"NFD asked, NFC stored", QString::fromUtf8("sound/" + nfd(QStringLiteral("åsa")) + ".wav"),
         "sound/åsa.wav", M::Form},
        {"case match before normalisation", QStringLiteral("sound/é.wav"), "sound/É.wav", M::Case},
        {"Windows-1252 bytes", QStringLiteral("sound\\Märta.wav"), "sound/M\xE4rta.wav",
         M::Windows1252},
        {"Windows-1252 bytes, other case", QStringLiteral("sound\\MÄRTA.wav"), "sound/M\xE4rta.wav",
         M::Windows1252},
        {"backslash in the word", QStringLiteral("sound\\djur\\Katt.wav"), "sound/djur/katt.wav",
         M::Case},
        {"dot components skipped", QStringLiteral("./sound//./Kalle.wav"), "sound/Kalle.wav",
         M::Exact},
        {"missing", QStringLiteral("sound\\Olle.wav"), {}},
        {"empty", QString(), {}},
        {"only separators", QStringLiteral("\\/"), {}},
        {"dot-dot leaves sound/", QStringLiteral("sound\\..\\hemlig.wav"), {}},
        {"dot-dot even when it comes back", QStringLiteral("sound/../sound/Kalle.wav"), {}},
        {"absolute", QString::fromUtf8(root + "/sound/Kalle.wav"), {}},
        {"absolute with backslash", QStringLiteral("\\etc\\passwd"), {}},
        {"drive letter", QStringLiteral("C:\\sound\\Kalle.wav"), {}},
        // A file name cannot hold NUL; cut there, the path would name another file.
        {"NUL inside the word",
         QStringLiteral("sound/Kalle.wav") + QChar(0) + QStringLiteral(".wav"),
         {}},
    };

    const FileResolver resolver(dir.path());
    for (const Case& c : cases) {
        const QByteArray expected = c.expected.isEmpty() ? QByteArray() : root + '/' + c.expected;
        const FileResolver::Found found = resolver.find(c.path);
        EXPECT_EQ(found.path, expected) << c.label;
        EXPECT_EQ(found.match, c.match) << c.label;
    }
    // QTemporaryDir cannot remove a name that is not UTF-8.
    ::unlink(root + "/sound/M\xE4rta.wav");
}

// A voice folder with many recordings, none of them the word looked up exactly.
class FolderIndex : public testing::Test {
protected:
    void SetUp() override {
        dir.mkdir(QStringLiteral("sound"));
        for (int i = 0; i < 3000; ++i)
            touchBytes(root + "/sound/ord" + QByteArray::number(i) + ".wav");
        touchBytes(root + "/sound/Kalle.wav");
    }
    void rename(const char* from, const char* to) {
        ASSERT_EQ(::rename(root + "/sound/" + from, root + "/sound/" + to), 0);
    }
    // Gives the folder a modification time of its own, far from the clock's.
    void stampFolder(long seconds) {
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, root + "/sound", times, 0), 0);
    }
    QByteArray found(const char* word) const {
        const QByteArray path = resolver.resolve("sound\\" + QString::fromUtf8(word) + ".wav");
        return path.isEmpty() ? QByteArray("-") : path.mid(root.size() + 7); // past "/sound/"
    }

    test::TempDir dir;
    const QByteArray root = QFile::encodeName(dir.path());
    const FileResolver resolver{dir.path()};
};

TEST(FileResolver, ARenameJustAfterALookupIsSeen) {
    // A small folder is read within one tick of the clock, and a change in the same tick
    // may leave the folder's time as it was.
    test::TempDir dir;
    const QByteArray sound = QFile::encodeName(dir.path()) + "/sound/";
    dir.mkdir(QStringLiteral("sound"));
    touchBytes(sound + "Kalle.wav");
    const FileResolver resolver(dir.path());
    for (int round = 0; round < 20; ++round) {
        const QByteArray from = round % 2 ? "Olle.wav" : "Kalle.wav";
        const QByteArray to = round % 2 ? "Kalle.wav" : "Olle.wav";
        ASSERT_EQ(resolver.resolve("sound/" + from.toLower()), sound + from) << round;
        ASSERT_EQ(::rename(sound + from, sound + to), 0);
        ASSERT_EQ(resolver.resolve("sound/" + to.toLower()), sound + to) << round;
    }
}

TEST_F(FolderIndex, IsReadAgainOnlyWhenTheFolderTimeMoves) {
    struct Step {
        const char* from; // rename this first, when given
        const char* to;
        long folderTime;
        const char* word;
        const char* expected;
    } steps[] = {
        {nullptr, nullptr, 1'000'000'000, "KALLE", "Kalle.wav"},
        {nullptr, nullptr, 1'000'000'000, "ORD2999", "ord2999.wav"},
        {"Kalle.wav", "Olle.wav", 1'000'000'100, "KALLE", "-"},
        {nullptr, nullptr, 1'000'000'100, "OLLE", "Olle.wav"},
        // The folder's time put back as it was: the index has no reason to look again.
        {"Olle.wav", "Pelle.wav", 1'000'000'100, "OLLE", "Olle.wav"},
        {nullptr, nullptr, 1'000'000'200, "OLLE", "-"},
        {nullptr, nullptr, 1'000'000'200, "pelle", "Pelle.wav"},
    };
    int n = 0;
    for (const Step& step : steps) {
        if (step.from)
            rename(step.from, step.to);
        stampFolder(step.folderTime);
        EXPECT_EQ(found(step.word), step.expected) << "step " << n++;
    }
}

TEST(FileResolver, WithoutSoundFolderNothingIsFound) {
    test::TempDir dir;
    const FileResolver resolver(dir.path());
    EXPECT_TRUE(resolver.resolve(QStringLiteral("sound\\Kalle.wav")).isEmpty());
}

} // namespace
} // namespace brumlis
