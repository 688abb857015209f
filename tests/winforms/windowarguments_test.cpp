#include "windowarguments.h"

#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace brumlis::winforms {
namespace {

TEST(WindowArguments, FolderOrProblem) {
    const std::u16string here = std::filesystem::current_path().u16string();
    const std::u16string missing = here + u"\\finns-inte-här";
    const struct Case {
        std::vector<std::u16string> args;
        std::u16string folder;
        std::u16string problem;
    } cases[] = {
        {{}, u"", u""},
        {{u"--data", here}, here, u""},
        {{u"--data=" + here}, here, u""},
        {{here}, here, u""},
        {{u"--data"}, u"", u"--data kräver ett värde"},
        {{u"--data="}, u"", u"--data kräver ett värde"},
        {{here, here}, u"", u"ange bara en mapp"},
        {{u"--data", here, here}, u"", u"ange bara en mapp"},
        {{u"--färg"}, u"", u"okänd flagga: --färg"},
        {{missing}, u"", u"mappen finns inte: " + missing},
    };
    for (const Case& c : cases) {
        const WindowArguments got = parseWindowArguments(c.args);
        std::u16string line;
        for (const std::u16string& arg : c.args)
            line += arg + u" ";
        SCOPED_TRACE(std::filesystem::path(line).string());
        EXPECT_EQ(got.dataDir.u16string(), c.folder);
        EXPECT_EQ(got.problem, c.problem);
    }
}

} // namespace
} // namespace brumlis::winforms
