#include "playback/soundresolver.h"
#include "support/tempdir.h"

#include <QFile>
#include <fcntl.h>
#include <gtest/gtest.h>
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

TEST(SoundResolver, FindsRecordingsTheWayWindowsWould) {
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
        SoundResolver::Match match = SoundResolver::Match::None;
    };
    using M = SoundResolver::Match;
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

    const SoundResolver resolver(dir.path());
    for (const Case& c : cases) {
        const QByteArray expected = c.expected.isEmpty() ? QByteArray() : root + '/' + c.expected;
        const SoundResolver::Found found = resolver.find(c.path);
        EXPECT_EQ(found.path, expected) << c.label;
        EXPECT_EQ(found.match, c.match) << c.label;
    }
}

TEST(SoundResolver, WithoutSoundFolderNothingIsFound) {
    test::TempDir dir;
    const SoundResolver resolver(dir.path());
    EXPECT_TRUE(resolver.resolve(QStringLiteral("sound\\Kalle.wav")).isEmpty());
}

} // namespace
} // namespace brumlis
