#include "brumlis/forms/brumform.h"
#include "brumlis/playback/soundplayer.h"
#include "support/tempdir.h"
#include "support/widgetevents.h"

#include <QAccessible>
#include <QApplication>
#include <QLabel>
#include <gtest/gtest.h>

namespace brumlis {
namespace {

// A screen reader announces top-level windows by their role; the client-area role a
// plain widget gets would leave both windows unannounced.
TEST(WindowRoles, MainWindowIsAWindowAndAboutADialog) {
    test::TempDir data;
    Brumform window(std::make_unique<SilentPlayer>(), data.path());
    window.cmdInformera_Click();
    QWidget* about = test::topLevelNamed("About");
    ASSERT_NE(about, nullptr);

    struct Case {
        const char* name;
        QWidget* widget;
        QAccessible::Role role;
    } cases[] = {
        {"Brumform", &window, QAccessible::Window},
        {"About", about, QAccessible::Dialog},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(c.widget);
        ASSERT_NE(accessible, nullptr);
        EXPECT_EQ(accessible->role(), c.role);
        EXPECT_EQ(accessible->text(QAccessible::Name), c.widget->windowTitle());
        EXPECT_GT(accessible->childCount(), 0);
    }
}

TEST(WindowRoles, TheWindowNamesItsDataFolder) {
    test::TempDir data;
    Brumform window(std::make_unique<SilentPlayer>(), data.path());
    QAccessibleInterface* accessible = QAccessible::queryAccessibleInterface(&window);
    ASSERT_NE(accessible, nullptr);
    EXPECT_EQ(accessible->text(QAccessible::Description), "Datamapp: " + data.path());
    EXPECT_EQ(window.findChild<QLabel*>("smisk")->toolTip(), "Datamapp: " + data.path());
}

} // namespace
} // namespace brumlis
