#include "brumlis/sentence/fileresolver.h"
#include "testkit/tempfolder.h"
#include "testkit/text.h"

#include <gtest/gtest.h>
#include <string>
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#endif

namespace brumlis {
namespace {

using test::u;

// "Göran" decomposed, as macOS writes names: o and U+0308.
const std::string GoranNfd = "Go\xcc\x88ran";
const std::string EAcuteNfd = "e\xcc\x81";

// Where a found path leads, relative to the data folder; "" when nothing is found.
std::string relativeTo(const std::filesystem::path& root, const std::filesystem::path& found) {
    // UTF-8 on every platform: a narrow string on Windows is in its ANSI code page.
    const std::u8string relative = found.lexically_relative(root).generic_u8string();
    return found.empty() ? "" : std::string(relative.begin(), relative.end());
}

TEST(FileResolver, FindsRecordingsTheWayWindowsWould) {
    test::TempFolder dir;
    for (const std::string& name :
         {std::string("sound/Kalle.wav"), std::string("sound/åsa.wav"), std::string("sound/Bo.wav"),
          std::string("sound/bo.wav"), std::string("sound/röd bil.wav"),
          std::string("sound/djur/katt.wav"), std::string("hemlig.wav"),
          "sound/" + GoranNfd + ".wav",
#ifndef _WIN32
          // "Märta" as Windows-1252 bytes: ä is the single byte E4.
          std::string("sound/M\xE4rta.wav"),
#endif
          // Both a composed É and a decomposed é: ignoring case alone must win first.
          std::string("sound/É.wav"), "sound/" + EAcuteNfd + ".wav"})
        dir.write(name, "");

    struct Case {
        const char* label;
        std::u16string path;
        std::string expected; // relative to the data folder; empty means nothing to play
        FileResolver::Match match = FileResolver::Match::None;
        bool windowsToo = true; ///< also where the file system ignores case
    };
    using M = FileResolver::Match;
    const Case cases[] = {
        {"exact", u"sound/Kalle.wav", "sound/Kalle.wav", M::Exact},
        {"backslash separators", u"sound\\Kalle.wav", "sound/Kalle.wav", M::Exact},
        {"blank kept", u"sound\\röd bil.wav", "sound/röd bil.wav", M::Exact},
        {"case of ASCII", u"sound\\kalle.WAV", "sound/Kalle.wav", M::Case, false},
        {"case of Å", u"sound\\Åsa.wav", "sound/åsa.wav", M::Case, false},
        {"case of the folder too", u"SOUND\\ÅSA.WAV", "sound/åsa.wav", M::Case, false},
        {"exact beats a case match", u"sound/bo.wav", "sound/bo.wav", M::Exact},
        {"several case matches: first by name", u"sound/BO.wav", "sound/Bo.wav", M::Case, false},
        {"NFC asked, NFD stored", u"sound\\Göran.wav", "sound/" + GoranNfd + ".wav", M::Form,
         false},
        {"NFD asked, NFC stored", u("sound/a\xcc\x8asa.wav"), "sound/åsa.wav", M::Form, false},
        {"case match before normalisation", u"sound/é.wav", "sound/É.wav", M::Case, false},
#ifndef _WIN32
        {"Windows-1252 bytes", u"sound\\Märta.wav", "sound/M\xE4rta.wav", M::Windows1252},
        {"Windows-1252 bytes, other case", u"sound\\MÄRTA.wav", "sound/M\xE4rta.wav",
         M::Windows1252},
#endif
        {"backslash in the word", u"sound\\djur\\Katt.wav", "sound/djur/katt.wav", M::Case, false},
        {"dot components skipped", u"./sound//./Kalle.wav", "sound/Kalle.wav", M::Exact},
        {"missing", u"sound\\Olle.wav", {}},
        {"empty", u"", {}},
        {"only separators", u"\\/", {}},
        {"dot-dot leaves sound/", u"sound\\..\\hemlig.wav", {}},
        {"dot-dot even when it comes back", u"sound/../sound/Kalle.wav", {}},
        {"absolute", u"/sound/Kalle.wav", {}},
        {"absolute with backslash", u"\\etc\\passwd", {}},
        {"drive letter", u"C:\\sound\\Kalle.wav", {}},
        // A file name cannot hold NUL; cut there, the path would name another file.
        {"NUL inside the word", std::u16string(u"sound/Kalle.wav\0.wav", 20), {}},
    };

    const FileResolver resolver(dir.path());
    for (const Case& c : cases) {
#ifdef _WIN32
        if (!c.windowsToo)
            continue;
#endif
        const FileResolver::Found found = resolver.find(c.path);
        EXPECT_EQ(relativeTo(dir.path(), found.path), c.expected) << c.label;
        EXPECT_EQ(found.match, c.match) << c.label;
    }
}

TEST(FileResolver, ARenameJustAfterALookupIsSeen) {
    // A small folder is read within one tick of the clock, and a change in the same tick
    // may leave the folder's time as it was. The names are stored composed and asked for
    // decomposed, so that every lookup goes through the folder's index, on a file system
    // that ignores case too.
    test::TempFolder dir;
    dir.write("sound/K\xc3\xa5lle.wav", "");
    const FileResolver resolver(dir.path());
    const std::filesystem::path sound = dir.filePath("sound");
    const std::string names[] = {"K\xc3\xa5lle.wav", "\xc3\x96lle.wav"}; // Kålle, Ölle
    const std::string asked[] = {"Ka\xcc\x8alle.wav", "O\xcc\x88lle.wav"};
    for (int round = 0; round < 20; ++round) {
        const int from = round % 2;
        const int to = 1 - from;
        ASSERT_EQ(relativeTo(sound, resolver.resolve(u("sound/" + asked[from]))), names[from])
            << round;
        std::filesystem::rename(dir.filePath("sound/" + names[from]),
                                dir.filePath("sound/" + names[to]));
        ASSERT_EQ(relativeTo(sound, resolver.resolve(u("sound/" + asked[to]))), names[to]) << round;
    }
}

#ifndef _WIN32
// A voice folder with many recordings, none of them the word looked up exactly.
class FolderIndex : public testing::Test {
protected:
    void SetUp() override {
        for (int i = 0; i < 3000; ++i)
            dir.write("sound/ord" + std::to_string(i) + ".wav", "");
        dir.write("sound/Kalle.wav", "");
    }
    void rename(const char* from, const char* to) {
        std::filesystem::rename(dir.filePath("sound") / from, dir.filePath("sound") / to);
    }
    // Gives the folder a modification time of its own, far from the clock's.
    void stampFolder(long seconds) {
        const timespec times[2] = {{seconds, 0}, {seconds, 0}};
        ASSERT_EQ(::utimensat(AT_FDCWD, dir.filePath("sound").c_str(), times, 0), 0);
    }
    std::string found(const char* word) const {
        const std::filesystem::path path = resolver.resolve(u"sound\\" + u(word) + u".wav");
        return path.empty() ? "-" : path.filename().string();
    }

    test::TempFolder dir;
    const FileResolver resolver{dir.path()};
};

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
#endif

TEST(FileResolver, WithoutSoundFolderNothingIsFound) {
    test::TempFolder dir;
    const FileResolver resolver(dir.path());
    EXPECT_TRUE(resolver.resolve(u"sound\\Kalle.wav").empty());
}

} // namespace
} // namespace brumlis
