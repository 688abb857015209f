#include "brumlis/sentence/datadir.h"
#include "support/tempdir.h"

#include <QDir>
#include <gtest/gtest.h>

namespace brumlis {
namespace {

// Restores an environment variable and the working directory when the test ends.
class Restore {
public:
    Restore()
        : m_cwd(QDir::currentPath())
        , m_home(qgetenv("XDG_DATA_HOME"))
        , m_dirs(qgetenv("XDG_DATA_DIRS")) {}
    ~Restore() {
        QDir::setCurrent(m_cwd);
        qputenv("XDG_DATA_HOME", m_home);
        qputenv("XDG_DATA_DIRS", m_dirs);
    }

private:
    QString m_cwd;
    QByteArray m_home;
    QByteArray m_dirs;
};

// Folders under a scratch root: cwd is the working directory, home is XDG_DATA_HOME,
// sys1 and sys2 are XDG_DATA_DIRS. Each case lists which candidates hold text/.
TEST(FindDataDir, TakesTheFirstFolderThatHoldsText) {
    struct Case {
        const char* name;
        QStringList withText;
        QStringList withoutText; // exist, hold sound/ only
        QString given;
        QString expected;
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
        {"given wins, even without text/",
         {"cwd", "home/brumlis"},
         {"cwd/given"},
         "given",
         "cwd/given"},
        {"given absolute", {"cwd"}, {}, "@/sys2", "sys2"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Restore restore;
        test::TempDir root;
        for (const char* folder : {"cwd", "home", "sys1", "sys2"})
            root.mkdir(QString::fromLatin1(folder));
        for (const QString& folder : c.withText)
            root.mkdir(folder + "/text");
        for (const QString& folder : c.withoutText)
            root.mkdir(folder);
        qputenv("XDG_DATA_HOME", root.filePath("home").toUtf8());
        qputenv("XDG_DATA_DIRS", (root.filePath("sys1") + ':' + root.filePath("sys2")).toUtf8());
        ASSERT_TRUE(QDir::setCurrent(root.filePath("cwd")));

        QString given = c.given;
        given.replace(u'@', root.path());
        const QString found = findDataDir(given);
        const QString expected = QDir(root.filePath(c.expected)).canonicalPath();
        ASSERT_FALSE(expected.isEmpty());
        EXPECT_EQ(QDir(found).canonicalPath(), expected) << found.toStdString();
        EXPECT_TRUE(QDir::isAbsolutePath(found));
    }
}

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
