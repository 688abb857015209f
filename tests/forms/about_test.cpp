#include "about.h"
#include "formfixture.h"
#include "support/widgetevents.h"

#include <QAccessible>
#include <QApplication>
#include <QPointer>
#include <QTest>
#include <QTimer>

namespace brumlis::test {
namespace {

class AboutTest : public FormTest {
protected:
    About* openAbout() {
        QTest::mouseClick(button("cmdInformera"), Qt::LeftButton);
        About* about = aboutWindow();
        EXPECT_NE(about, nullptr);
        if (about) {
            EXPECT_TRUE(untilActive(about));
        }
        return about;
    }
    template <class T = QWidget> static T* part(About* about, const char* name) {
        T* w = about->findChild<T*>(QLatin1String(name));
        EXPECT_NE(w, nullptr) << name;
        return w;
    }
};

int aboutWindows() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += w->objectName() == QLatin1String("About");
    return n;
}

TEST_F(AboutTest, LayoutCaptionsAndFonts) {
    About* about = openAbout();
    ASSERT_NE(about, nullptr);
    EXPECT_EQ(about->windowTitle(), QStringLiteral("Om brumlis"));
    // In twips (1/1440 inch), 15 to a pixel at 96 dpi, as the design gives them.
    constexpr int TwipsPerPixel = 15;
    EXPECT_EQ(about->size(), QSize(5940 / TwipsPerPixel, 2955 / TwipsPerPixel));
    EXPECT_EQ(about->minimumSize(), about->maximumSize());
    EXPECT_EQ(about->palette().color(QPalette::Window), QColor(250, 200, 250));

    struct Case {
        const char* name;
        int left, top, width, height; // twips
        qreal points;                 // 0 for the button
        bool bold;
    };
    const Case cases[] = {
        {"title", 120, 120, 3885, 360, 11.25, true},
        {"description", 120, 480, 5715, 1935, 9, false},
        {"cmdOK", 2280, 2520, 1260, 345, 0, false},
    };
    for (const Case& c : cases) {
        QWidget* w = part(about, c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->geometry(), QRect(c.left / TwipsPerPixel, c.top / TwipsPerPixel,
                                       c.width / TwipsPerPixel, c.height / TwipsPerPixel))
            << c.name;
        if (c.points > 0) {
            EXPECT_EQ(w->font().pointSizeF(), c.points) << c.name;
            EXPECT_EQ(w->font().bold(), c.bold) << c.name;
            EXPECT_EQ(w->palette().color(QPalette::WindowText), QColor(Qt::black)) << c.name;
        }
    }
    EXPECT_EQ(part<QLabel>(about, "title")->text(), QStringLiteral("Brumlis av fnurre & vRx"));
    EXPECT_EQ(part<QPushButton>(about, "cmdOK")->text(), QStringLiteral("whatever.."));
    EXPECT_TRUE(part<QPushButton>(about, "cmdOK")->isDefault());
    EXPECT_EQ(QApplication::focusWidget(), part(about, "cmdOK"));
}

TEST_F(AboutTest, HasNoTaskbarEntryNoMinMaxAndKeepsTheProgramRunning) {
    About* about = openAbout();
    ASSERT_NE(about, nullptr);
    const Qt::WindowFlags flags = about->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Tool); // tool windows have no taskbar entry
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_TRUE(about->testAttribute(Qt::WA_QuitOnClose));
    EXPECT_EQ(about->parentWidget(), nullptr);
    EXPECT_FALSE(about->isModal());
    // Centred over the main window.
    EXPECT_LE((about->frameGeometry().center() - form->frameGeometry().center()).manhattanLength(),
              2);
}

TEST_F(AboutTest, CreditsTextIsAssembledWithCrLfBreaks) {
    const QString expected =
        QStringLiteral("Brumlis är gjort av fnurre och vRx som Useless Utility compo-bidrag på "
                       "Vinterlan 2001.") +
        QStringLiteral("\r\n") + QStringLiteral("Programmet är gjort i ") +
        QStringLiteral("C++ och Qt") +
        QStringLiteral(", och betatestat på Windows 98 och Windows XP. All text och ljud kan "
                       "enkelt bytas ut efter eget behov.") +
        QStringLiteral("\r\n\r\n") +
        QStringLiteral("Greets till Tufsen, ZiMbAlOx, trolm, v1ndel, Nordbit Crew och alla andra "
                       "vänner vi inte fick plats att inkludera, eftersom den här lama ursäkten "
                       "tog upp för stor plats :).");
    About* about = openAbout();
    ASSERT_NE(about, nullptr);
    const QString shown = part<QLabel>(about, "description")->text();
    EXPECT_EQ(shown, expected);
    const QStringList paragraphs = shown.split(QStringLiteral("\r\n"));
    ASSERT_EQ(paragraphs.size(), 4);
    EXPECT_TRUE(paragraphs[2].isEmpty());
}

TEST_F(AboutTest, InformeraNeverOpensASecondWindow) {
    About* first = openAbout();
    ASSERT_NE(first, nullptr);
    // Bring the main window to the front and press Informera again: same window, active.
    form->activateWindow();
    ASSERT_TRUE(untilActive(form.get()));
    QTest::mouseClick(button("cmdInformera"), Qt::LeftButton);
    EXPECT_EQ(aboutWindow(), first);
    EXPECT_TRUE(untilActive(first));
    EXPECT_EQ(aboutWindows(), 1);
    // The main window stays usable meanwhile.
    clickAndListen("Command1");
    EXPECT_EQ(player->spoken.size(), 1u);
    EXPECT_EQ(aboutWindows(), 1);
}

TEST_F(AboutTest, WhateverEnterAndEscCloseItAndFocusGenerera) {
    struct Case {
        const char* how;
        std::function<void(About*)> act;
    };
    const Case cases[] = {
        {"click",
         [](About* a) { QTest::mouseClick(part<QPushButton>(a, "cmdOK"), Qt::LeftButton); }},
        {"Return", [](About* a) { QTest::keyClick(part(a, "cmdOK"), Qt::Key_Return); }},
        {"Enter", [](About* a) { QTest::keyClick(part(a, "cmdOK"), Qt::Key_Enter); }},
        {"Esc", [](About* a) { QTest::keyClick(part(a, "cmdOK"), Qt::Key_Escape); }},
        {"Esc on the window", [](About* a) { QTest::keyClick(a, Qt::Key_Escape); }},
    };
    for (const Case& c : cases) {
        QPointer<About> about = openAbout();
        ASSERT_TRUE(about) << c.how;
        // Edit the text, so a reopened window shows whether Form_Load ran again.
        part<QLabel>(about, "description")->setText(QStringLiteral("changed"));
        c.act(about);
        QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
        EXPECT_TRUE(about.isNull()) << c.how << ": not unloaded";
        EXPECT_EQ(aboutWindow(), nullptr) << c.how;
        EXPECT_TRUE(untilActive(form.get())) << c.how;
        EXPECT_EQ(QApplication::focusWidget(), button("Command1")) << c.how;

        About* again = openAbout();
        ASSERT_NE(again, nullptr);
        EXPECT_EQ(part<QLabel>(again, "description")->text(), About::creditsText()) << c.how;
        closeStrayWindows();
        form->activateWindow();
        ASSERT_TRUE(untilActive(form.get()));
    }
}

TEST_F(AboutTest, AccessibleByRoleAndName) {
    About* about = openAbout();
    ASSERT_NE(about, nullptr);
    struct Case {
        const char* name;
        QAccessible::Role role;
        QString accessibleName;
    };
    const Case cases[] = {
        {"title", QAccessible::StaticText, QStringLiteral("Brumlis av fnurre & vRx")},
        {"description", QAccessible::StaticText, About::creditsText()},
        {"cmdOK", QAccessible::PushButton, QStringLiteral("whatever..")},
    };
    for (const Case& c : cases) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(part(about, c.name));
        ASSERT_NE(iface, nullptr) << c.name;
        EXPECT_EQ(iface->role(), c.role) << c.name;
        EXPECT_EQ(iface->text(QAccessible::Name), c.accessibleName) << c.name;
    }
}

// Runs the real event loop: the program must keep going while the About window is open
// after the main window closed, and end when the About window closes.
TEST_F(AboutTest, ProgramEndsWhenTheLastWindowCloses) {
    QGuiApplication::setQuitOnLastWindowClosed(true);
    int lastClosed = 0;
    QObject::connect(qApp, &QGuiApplication::lastWindowClosed, form.get(), [&] { ++lastClosed; });
    int lastClosedWithAboutOpen = -1;
    bool aboutStillOpen = false;
    bool focusMoved = false;
    QPointer<About> about;
    QTimer::singleShot(0, form.get(), [&] {
        about = openAbout();
        form->close();
        QTimer::singleShot(0, qApp, [&] {
            lastClosedWithAboutOpen = lastClosed;
            aboutStillOpen = about && about->isVisible();
            if (about) {
                QTest::mouseClick(part<QPushButton>(about, "cmdOK"), Qt::LeftButton);
                focusMoved = form->isVisible();
            }
            // A guard for a broken build: ends the loop with a failure code instead of
            // hanging, long after the loop would have quit on its own.
            QTimer::singleShot(5000, qApp, [] { QCoreApplication::exit(7); });
        });
    });
    const int code = QCoreApplication::exec();
    EXPECT_EQ(lastClosedWithAboutOpen, 0) << "closing the main window ended the program";
    EXPECT_TRUE(aboutStillOpen);
    EXPECT_EQ(lastClosed, 1);
    EXPECT_EQ(code, 0) << "the program did not end when its last window closed";
    EXPECT_FALSE(focusMoved) << "cmdOK must only close when the main window is gone";
}

} // namespace
} // namespace brumlis::test
