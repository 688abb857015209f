#include "brumlis/sentence/datadir.h"
#include "testkit/tempfolder.h"

#include <cstdlib>
#include <gtest/gtest.h>
#include <optional>
#include <string>
#include <vector>

namespace brumlis {
namespace {

#ifndef _WIN32
// Restores an environment variable and the working directory when the test ends.
class Restore {
public:
    Restore()
        : m_cwd(std::filesystem::current_path())
        , m_home(get("XDG_DATA_HOME"))
        , m_dirs(get("XDG_DATA_DIRS")) {}
    ~Restore() {
        std::filesystem::current_path(m_cwd);
        put("XDG_DATA_HOME", m_home);
        put("XDG_DATA_DIRS", m_dirs);
    }

private:
    static std::optional<std::string> get(const char* name) {
        const char* value = std::getenv(name);
        return value ? std::optional<std::string>(value) : std::nullopt;
    }
    static void put(const char* name, const std::optional<std::string>& value) {
        if (value)
            ::setenv(name, value->c_str(), 1);
        else
            ::unsetenv(name);
    }

    std::filesystem::path m_cwd;
    std::optional<std::string> m_home;
    std::optional<std::string> m_dirs;
};

// Folders under a scratch root: cwd is the working directory, home is XDG_DATA_HOME,
// sys1 and sys2 are XDG_DATA_DIRS. Each case lists which candidates hold text/.
TEST(FindDataDir, TakesTheFirstFolderThatHoldsText) {
    struct Case {
        const char* name;
        std::vector<std::string> withText;
        std::vector<std::string> withoutText; // exist, hold sound/ only
        std::string given;
        std::string expected;
    } cases[] = {
        {"none: the working directory", {}, {}, {}, "cwd"},
        {"working directory first", {"cwd", "home/brumlis", "sys1/brumlis"}, {}, {}, "cwd"},
        {"user folder before the installed",
         {"home/brumlis", "sys1/brumlis"},
         {},
         {},
         "home/brumlis"},
        {"data dirs in order", {"sys1/brumlis", "sys2/brumlis"}, {}, {}, "sys1/brumlis"},
        {"a later data dir", {"sys2/brumlis"}, {}, {}, "sys2/brumlis"},
        {"a folder without text/ is passed over",
         {"sys2/brumlis"},
         {"cwd/sound", "home/brumlis/sound", "sys1/brumlis/sound"},
         {},
         "sys2/brumlis"},
        {"a folder Text/ from Windows counts", {"home/brumlis/Text"}, {}, {}, "home/brumlis"},
        {"given wins, even without text/",
         {"cwd", "home/brumlis"},
         {"cwd/given"},
         "given",
         "cwd/given"},
        {"given absolute", {"cwd"}, {}, "@/sys2", "sys2"},
        {"given with dots", {"cwd"}, {"sys1/x"}, "@/sys1/x/../../sys2/", "sys2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restore restore;
        test::TempFolder root;
        for (const char* folder : {"cwd", "home", "sys1", "sys2"})
            root.mkdir(folder);
        for (const std::string& folder : c.withText)
            root.mkdir(folder.ends_with("/Text") ? folder : folder + "/text");
        for (const std::string& folder : c.withoutText)
            root.mkdir(folder);
        ::setenv("XDG_DATA_HOME", root.filePath("home").c_str(), 1);
        ::setenv("XDG_DATA_DIRS",
                 (root.filePath("sys1").string() + ':' + root.filePath("sys2").string()).c_str(),
                 1);
        std::filesystem::current_path(root.filePath("cwd"));

        std::string given = c.given;
        if (given.starts_with('@'))
            given.replace(0, 1, root.path().string());
        const std::filesystem::path found = findDataDir(given);
        const std::filesystem::path expected =
            std::filesystem::canonical(root.filePath(c.expected));
        EXPECT_EQ(std::filesystem::canonical(found), expected) << found;
        EXPECT_TRUE(found.is_absolute());
        EXPECT_EQ(found, found.lexically_normal()) << found;
        EXPECT_TRUE(found.has_filename()) << found;
    }
}
#endif

} // namespace
} // namespace brumlis
