#include "brumlis/qtbridge/windowcommandline.h"
#include "support/tempdir.h"

#include <QStringList>
#include <gtest/gtest.h>

namespace brumlis {
namespace {

// The window programs' command line: the folder it names, or what is wrong with it.
TEST(WindowCommandLine, NamesOneFolderThatExistsOrSaysWhatIsWrong) {
    test::TempDir root;
    root.mkdir(QStringLiteral("mapp"));
    const QString folder = root.filePath(QStringLiteral("mapp"));
    struct Case {
        QStringList arguments; // after the program's name
        QString given;
        QString problem;
    } cases[] = {
        {{}, {}, {}},
        {{folder}, folder, {}},
        {{"--data", folder}, folder, {}},
        {{"-data", folder}, folder, {}},
        {{"--data"}, {}, "--data kräver ett värde"},
        {{"--färg"}, {}, "okänd flagga: --färg"},
        {{"-x"}, {}, "okänd flagga: -x"},
        {{"--data", folder, folder}, {}, "ange bara en mapp"},
        {{folder, folder}, {}, "ange bara en mapp"},
        {{folder + "/saknas"}, {}, "mappen finns inte: " + folder + "/saknas"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.arguments.join(u' ').toStdString());
        QString given = QStringLiteral("unchanged");
        const QString problem = WindowCommandLine::problem(
            QStringList{QStringLiteral("brumlis")} + c.arguments, &given);
        EXPECT_EQ(problem, c.problem);
        if (c.problem.isEmpty()) {
            EXPECT_EQ(given, c.given);
        }
    }
}

} // namespace
} // namespace brumlis
