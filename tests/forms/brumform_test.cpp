#include "about.h"
#include "brumlis/qtbridge/text.h"
#include "formfixture.h"
#include "support/eventwait.h"
#include "support/widgetevents.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QSignalSpy>
#include <QTest>
#include <QTimer>
#include <algorithm>

namespace brumlis::test {
namespace {

constexpr auto Prompt = "Tryck på Generera för att slumpa fram en mening.";

int visibleAboutWindows() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += w->objectName() == QLatin1String("About") && w->isVisible();
    return n;
}

// The layout as the design gives it, in twips (1/1440 inch; 15 to a pixel at 96 dpi): each
// control where it says, none overlapping, and the buttons one row of equal size.
TEST_F(FormTest, ControlsSitWhereTheDesignPutsThemInTwips) {
    struct Case {
        const char* name;
        int left, top, width, height; // twips
    };
    const Case cases[] = {
        {"Image2", 1800, 120, 4380, 600},    {"Image1", 120, 480, 1605, 2250},
        {"smisk", 1920, 960, 4215, 1335},    {"cmdRepeat", 1920, 2400, 1335, 330},
        {"Command1", 3360, 2400, 1335, 330}, {"cmdInformera", 4800, 2400, 1335, 330},
    };
    constexpr int TwipsPerPixel = 15;
    EXPECT_EQ(form->size(), QSize(6285 / TwipsPerPixel, 2850 / TwipsPerPixel));
    std::vector<QRect> placed;
    for (const Case& c : cases) {
        QWidget* w = child(c.name);
        ASSERT_NE(w, nullptr);
        const QRect inPixels(c.left / TwipsPerPixel, c.top / TwipsPerPixel, c.width / TwipsPerPixel,
                             c.height / TwipsPerPixel);
        EXPECT_EQ(w->geometry(), inPixels) << c.name;
        EXPECT_TRUE(w->isVisible()) << c.name;
        for (const QRect& other : placed)
            EXPECT_FALSE(w->geometry().intersects(other)) << c.name << " overlaps";
        placed.push_back(w->geometry());
    }
    // Repetera, Generera, Informera from left to right, 7 pixels apart.
    const QRect r = button("cmdRepeat")->geometry(), g = button("Command1")->geometry(),
                i = button("cmdInformera")->geometry();
    EXPECT_EQ(g.left() - r.right() - 1, 105 / TwipsPerPixel);
    EXPECT_EQ(i.left() - g.right() - 1, 105 / TwipsPerPixel);
    EXPECT_TRUE(r.size() == g.size() && g.size() == i.size());
}

TEST_F(FormTest, WindowIsFixedCaptionedAndHasOnlyACloseBox) {
    EXPECT_EQ(form->objectName(), QStringLiteral("Brumform"));
    EXPECT_EQ(form->windowTitle(), QStringLiteral(" Brumlis"));
    EXPECT_EQ(form->size(), QSize(419, 190));
    EXPECT_EQ(form->minimumSize(), QSize(419, 190));
    EXPECT_EQ(form->maximumSize(), QSize(419, 190));
    const Qt::WindowFlags flags = form->windowFlags();
    EXPECT_EQ(flags & Qt::WindowType_Mask, Qt::Window);
    EXPECT_TRUE(flags & Qt::WindowCloseButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMinimizeButtonHint);
    EXPECT_FALSE(flags & Qt::WindowMaximizeButtonHint);
    EXPECT_FALSE(form->windowIcon().isNull());
    // Centred on the screen (up to the window frame, which the screen centre ignores).
    const QPoint offCentre =
        form->geometry().center() - form->screen()->availableGeometry().center();
    EXPECT_LE(offCentre.manhattanLength(), 40) << offCentre.x() << "," << offCentre.y();
    EXPECT_EQ(form->palette().color(QPalette::Window), QColor(250, 200, 250));
    EXPECT_EQ(smisk()->palette().color(QPalette::Window), QColor(250, 200, 250));
    EXPECT_TRUE(smisk()->autoFillBackground());
}

TEST_F(FormTest, StartsWithThePromptRepeteraDisabledAndFocusOnGenerera) {
    struct Case {
        const char* name;
        const char* caption;
        bool enabled;
    };
    const Case cases[] = {
        {"cmdRepeat", "Repetera", false},
        {"Command1", "Generera", true},
        {"cmdInformera", "Informera", true},
    };
    for (const Case& c : cases) {
        QPushButton* b = button(c.name);
        EXPECT_EQ(b->text(), QString::fromUtf8(c.caption));
        EXPECT_EQ(b->isEnabled(), c.enabled) << c.name;
        EXPECT_FALSE(b->isDefault()) << c.name;
    }
    EXPECT_EQ(smisk()->text(), QString::fromUtf8(Prompt));
    EXPECT_EQ(QApplication::focusWidget(), button("Command1"));
    EXPECT_EQ(smisk()->focusPolicy(), Qt::NoFocus);
    EXPECT_TRUE(player->spoken.empty()) << "a sentence before the first Generera";

    // Verdana where it is installed, DejaVu Sans where it is not.
    EXPECT_EQ(smisk()->font().families(),
              (QStringList{QStringLiteral("Verdana"), QStringLiteral("DejaVu Sans")}));
}

TEST_F(FormTest, TabSkipsDisabledRepeteraUntilTheFirstSentence) {
    struct Case {
        bool afterSentence;
        std::vector<const char*> focusAfterEachTab;
    };
    const Case cases[] = {
        {false, {"cmdInformera", "Command1", "cmdInformera"}},
        {true, {"cmdInformera", "cmdRepeat", "Command1", "cmdInformera"}},
    };
    for (const Case& c : cases) {
        if (c.afterSentence) {
            clickAndListen("Command1");
        }
        ASSERT_EQ(QApplication::focusWidget(), button("Command1"));
        for (const char* name : c.focusAfterEachTab) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            EXPECT_EQ(QApplication::focusWidget(), button(name))
                << name << (c.afterSentence ? " after a sentence" : " at start");
        }
        button("Command1")->setFocus();
    }
}

TEST_F(FormTest, KeysActOnTheFocusedButtonOnly) {
    struct Case {
        const char* focused;
        Qt::Key key;
        bool speaks;
        bool aboutOpens;
    };
    const Case cases[] = {
        {"Command1", Qt::Key_Return, true, false},
        {"Command1", Qt::Key_Enter, true, false},
        {"Command1", Qt::Key_Space, true, false},
        {"Command1", Qt::Key_Escape, false, false},
        {"cmdInformera", Qt::Key_Return, false, true},
        {"cmdInformera", Qt::Key_Space, false, true},
        {"cmdInformera", Qt::Key_Escape, false, false},
    };
    for (const Case& c : cases) {
        player->spoken.clear();
        button(c.focused)->setFocus();
        QTest::keyClick(button(c.focused), c.key);
        ASSERT_TRUE(waitUntilSpoken());
        EXPECT_EQ(player->spoken.size(), c.speaks ? 1u : 0u) << c.focused << " key " << c.key;
        EXPECT_EQ(visibleAboutWindows(), c.aboutOpens ? 1 : 0) << c.focused << " key " << c.key;
        EXPECT_TRUE(form->isVisible());
        closeStrayWindows();
        form->activateWindow();
        ASSERT_TRUE(untilActive(form.get()));
    }
}

TEST_F(FormTest, GenereraShowsEachWordInTurnAndEndsEnabledOnGenerera) {
    clickAndListen("Command1");

    ASSERT_EQ(player->spoken.size(), 1u);
    const QStringList clips = qt(player->spoken[0]);
    EXPECT_GE(templateOf(clips), 1)
        << "not one of the built-in templates: " << clips.join(u',').toStdString();
    ASSERT_EQ(clips.size(), 15);
    ASSERT_EQ(shown.size(), 15u);
    int used = 0;
    while (used < 15 && !clips[used].isEmpty())
        ++used;
    EXPECT_GE(used, 4);
    EXPECT_LE(used, 8);
    for (int i = 0; i < 15; ++i) {
        EXPECT_EQ(shown[std::size_t(i)].label, expectedLabel(i)) << "slot " << i;
        EXPECT_EQ(clips[i].isEmpty(), i >= used) << "slot " << i;
        EXPECT_FALSE(shown[std::size_t(i)].generateEnabled)
            << "Generera must stay disabled while speaking";
    }
    EXPECT_EQ(shown[0].label, QStringLiteral("Kalle ")) << "every template starts with a name";
    EXPECT_EQ(smisk()->text(), expectedLabel(14));
    EXPECT_TRUE(smisk()->text().endsWith(QString(15 - used + 1, u' ')));
    EXPECT_TRUE(button("cmdRepeat")->isEnabled());
    EXPECT_TRUE(button("Command1")->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), button("Command1"));
}

TEST_F(FormTest, RepeteraSpeaksTheSameSentenceAgainEveryTime) {
    clickAndListen("Command1");
    const QStringList first = qt(player->spoken.at(0));
    const std::vector<Shown> firstShown = shown;
    ASSERT_EQ(firstShown.size(), 15u);

    // Edited lists must not change what Repetera says.
    writeList(QStringLiteral("namn"), {QStringLiteral("Stina")});
    for (int round = 0; round < 3; ++round) {
        shown.clear();
        button("cmdRepeat")->setFocus();
        clickAndListen("cmdRepeat");
        ASSERT_EQ(player->spoken.size(), std::size_t(round) + 2) << "round " << round;
        EXPECT_EQ(qt(player->spoken.back()), first);
        ASSERT_EQ(shown.size(), 15u);
        for (std::size_t i = 0; i < 15; ++i) {
            EXPECT_EQ(shown[i].label, firstShown[i].label) << "slot " << i;
            // The repeat path disables nothing.
            EXPECT_TRUE(shown[i].generateEnabled);
        }
        EXPECT_EQ(QApplication::focusWidget(), button("Command1"));
        EXPECT_TRUE(button("cmdRepeat")->isEnabled());
    }
    EXPECT_FALSE(smisk()->text().contains(QStringLiteral("Stina")));
}

TEST_F(FormTest, ALongSentenceIsCutOffWithoutGrowingTheLabel) {
    const QString longWord = QStringLiteral("jätte").repeated(4);
    for (const char* category : {"namn", "adj", "adj_neu", "färg", "sub", "sub_neu", "sub_reale",
                                 "verb_pre", "verb_per", "prep", "plats"})
        writeList(QString::fromUtf8(category), {longWord + QStringLiteral(" ") + longWord});
    clickAndListen("Command1");
    EXPECT_TRUE(smisk()->text().startsWith(longWord));
    EXPECT_EQ(smisk()->geometry(), QRect(128, 64, 281, 89));
    EXPECT_EQ(form->size(), QSize(419, 190));
    // The text really is taller than the label: it is cut off, not shrunk.
    EXPECT_GT(smisk()->heightForWidth(281), 89);
}

TEST_F(FormTest, InputDuringASentenceIsDroppedNotReplayed) {
    clickAndListen("Command1"); // so that Repetera can take the focus too
    player->spoken.clear();
    player->hearAtOnce = false;
    QPushButton* generate = button("Command1");
    QPushButton* informera = button("cmdInformera");
    QTest::mouseClick(generate, Qt::LeftButton);
    ASSERT_FALSE(generate->isEnabled()) << "the sentence is not being spoken";
    ASSERT_FALSE(takesInput());
    // Delivered at once while the sentence is spoken ...
    QTest::mouseClick(informera, Qt::LeftButton);
    QTest::mouseClick(generate, Qt::LeftButton);
    QTest::keyClick(informera, Qt::Key_Space);
    QWidget* focused = QApplication::focusWidget();
    QTest::keyClick(focused, Qt::Key_Tab);
    EXPECT_EQ(QApplication::focusWidget(), focused) << "Tab moved the focus while speaking";
    // ... and queued, to arrive just before the sentence ends.
    const QPointF at = QRectF(informera->rect()).center();
    for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
        QCoreApplication::postEvent(informera, new QMouseEvent(type, at, informera->mapToGlobal(at),
                                                               Qt::LeftButton, Qt::LeftButton,
                                                               Qt::NoModifier));
    QCoreApplication::postEvent(generate,
                                new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier));
    player->hearAll();
    ASSERT_TRUE(waitUntilSpoken());

    EXPECT_EQ(player->spoken.size(), 1u) << "a second sentence was started";
    EXPECT_EQ(visibleAboutWindows(), 0) << "a click on Informera got through";

    // Once the sentence is over, the same input works again.
    QTest::mouseClick(informera, Qt::LeftButton);
    EXPECT_EQ(visibleAboutWindows(), 1);
}

TEST_F(FormTest, ClosingTheWindowMidSentenceStopsIt) {
    for (int closeAfter : {0, 3, 14}) {
        SCOPED_TRACE(closeAfter);
        openForm();
        player->hearAtOnce = false;
        QTest::mouseClick(button("Command1"), Qt::LeftButton);
        for (int k = 0; k <= closeAfter; ++k)
            player->hear(k);
        ASSERT_TRUE(untilSeen({smisk()}, [&] { return int(shown.size()) == closeAfter + 1; }));
        ASSERT_FALSE(takesInput()) << "speaking, the program took a key";
        form->close();
        EXPECT_EQ(player->stops, 1);
        EXPECT_FALSE(form->isVisible());
        // What the player had still on its way changes nothing.
        player->hearAll();
        QCoreApplication::sendPostedEvents();
        EXPECT_TRUE(takesInput()) << "the closed window still blocks all input";
        EXPECT_FALSE(button("cmdRepeat")->isEnabled()) << "speaking went on after the close";
        EXPECT_EQ(smisk()->text(), expectedLabel(closeAfter));
    }
}

TEST_F(FormTest, AFailedPickShowsAMessageBoxAndTheSentenceGoesOn) {
    struct Case {
        const char* missing;
        QString expected;
    };
    const Case cases[] = {
        {"namn", QStringLiteral("text/namn.txt existerar inte")},
        {"prep", QStringLiteral("text/prep.txt existerar inte")},
    };
    for (const Case& c : cases) {
        QFile::remove(
            dir.filePath(QStringLiteral("text/%1.txt").arg(QString::fromUtf8(c.missing))));
        // Every template but 1 to 4 uses "prep" once; every template uses "namn", 1 to 4 twice.
        for (int attempt = 0; attempt < 6; ++attempt) {
            player->spoken.clear();
            MessageBoxAnswerer answerer;
            clickAndListen("Command1");
            const int t =
                templateOf(player->spoken.empty() ? QStringList() : qt(player->spoken.front()));
            ASSERT_GE(t, 1) << "not one of the built-in templates";
            std::size_t wanted = 0;
            if (QString::fromUtf8(c.missing) == QLatin1String("namn"))
                wanted = t <= 4 ? 2 : 1;
            else
                wanted = t >= 5 ? 1 : 0;
            ASSERT_EQ(answerer.boxes.size(), wanted) << c.missing << " template " << t;
            for (const MessageBoxAnswerer::Box& box : answerer.boxes) {
                EXPECT_EQ(box.caption, QStringLiteral("Brumlis"));
                EXPECT_EQ(box.text, c.expected);
                EXPECT_EQ(box.icon, int(QMessageBox::NoIcon));
                EXPECT_EQ(box.buttons, QStringList{QStringLiteral("OK")});
            }
            EXPECT_EQ(player->spoken.size(), 1u) << "the sentence must go on";
            EXPECT_TRUE(button("Command1")->isEnabled());
        }
        writeList(QString::fromUtf8(c.missing), {QStringLiteral("x")});
    }
}

// The folder's own shapes are read at every Generera: a faulty line is one box, with every
// faulty line in it, and the sentence comes from the shapes that are left.
TEST_F(FormTest, AFaultyShapeFileIsOneMessageBoxPerGenereraAndTheRestIsSpoken) {
    dir.write("mallar.txt", "[namn] \"är\" (\"här\"\n2: \"hej\" [namn]\n0: [namn]\n");
    for (int round = 0; round < 2; ++round) {
        player->spoken.clear();
        MessageBoxAnswerer answerer;
        clickAndListen("Command1");
        ASSERT_EQ(answerer.boxes.size(), 1u);
        const QStringList lines = answerer.boxes[0].text.split(u'\n');
        ASSERT_EQ(lines.size(), 2) << answerer.boxes[0].text.toStdString();
        EXPECT_TRUE(lines[0].startsWith(QStringLiteral("mallar.txt rad 1: ")));
        EXPECT_TRUE(lines[1].startsWith(QStringLiteral("mallar.txt rad 3: ")));
        ASSERT_EQ(player->spoken.size(), 1u) << "the sentence must go on";
        // The shape of line 2, the one sound line, and nothing else.
        QStringList line2(15, QString());
        line2[0] = QStringLiteral("sound/hej.wav");
        line2[1] = QStringLiteral("sound/Kalle.wav");
        EXPECT_EQ(qt(player->spoken[0]), line2);
        EXPECT_EQ(smisk()->text(), QStringLiteral("hej Kalle ") + QString(13, u' '));
    }
    dir.write("mallar.txt", "\"hej\" [namn]\n");
    MessageBoxAnswerer answerer;
    clickAndListen("Command1");
    EXPECT_TRUE(answerer.boxes.empty()) << "the file is read afresh";
}

TEST_F(FormTest, EveryControlIsReachableThroughAccessibility) {
    struct Case {
        const char* name;
        QAccessible::Role role;
        QString accessibleName;
    };
    const Case cases[] = {
        {"Image2", QAccessible::Graphic, QStringLiteral("Brumlis")},
        {"Image1", QAccessible::Graphic, QStringLiteral("Porträtt")},
        {"smisk", QAccessible::StaticText, QString::fromUtf8(Prompt)},
        {"cmdRepeat", QAccessible::PushButton, QStringLiteral("Repetera")},
        {"Command1", QAccessible::PushButton, QStringLiteral("Generera")},
        {"cmdInformera", QAccessible::PushButton, QStringLiteral("Informera")},
    };
    QAccessibleInterface* window = QAccessible::queryAccessibleInterface(form.get());
    ASSERT_NE(window, nullptr);
    EXPECT_EQ(window->text(QAccessible::Name), QStringLiteral(" Brumlis"));
    for (const Case& c : cases) {
        QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(child(c.name));
        ASSERT_NE(iface, nullptr) << c.name;
        EXPECT_EQ(iface->role(), c.role) << c.name;
        EXPECT_EQ(iface->text(QAccessible::Name), c.accessibleName) << c.name;
        EXPECT_EQ(iface->parent()->object(), form.get()) << c.name;
    }
    EXPECT_TRUE(QAccessible::queryAccessibleInterface(button("cmdRepeat"))->state().disabled);
}

TEST_F(FormTest, AScreenReaderCanGenerateAndReadTheSentence) {
    QAccessibleInterface* generate = QAccessible::queryAccessibleInterface(button("Command1"));
    ASSERT_NE(generate, nullptr);
    QAccessibleActionInterface* actions = generate->actionInterface();
    ASSERT_NE(actions, nullptr);
    QSignalSpy clicked(button("Command1"), &QPushButton::clicked);
    actions->doAction(QAccessibleActionInterface::pressAction());
    // The press is animated: the click follows from the event loop.
    ASSERT_TRUE(clicked.wait(10000));
    ASSERT_EQ(player->spoken.size(), 1u);
    ASSERT_TRUE(waitUntilSpoken());
    QAccessibleInterface* label = QAccessible::queryAccessibleInterface(smisk());
    EXPECT_EQ(label->text(QAccessible::Name), expectedLabel(14));
    EXPECT_TRUE(label->text(QAccessible::Name).startsWith(QStringLiteral("Kalle ")));
    EXPECT_TRUE(generate->state().focused);
}

// Presses the button as a screen reader does: the click follows on a timer.
void accessiblePress(QPushButton* button) {
    QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(button);
    ASSERT_NE(iface, nullptr);
    iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
}

TEST_F(FormTest, AnAccessibilityPressWhileSpeakingIsDroppedOnEveryButtonEvenWhenItClicksLater) {
    clickAndListen("Command1"); // Repetera is enabled from now on
    player->hearAtOnce = false;
    QTest::mouseClick(button("cmdRepeat"), Qt::LeftButton);
    ASSERT_EQ(player->spoken.size(), 2u) << "Repetera did not speak";
    ASSERT_FALSE(sentenceOver());
    ASSERT_FALSE(takesInput());
    std::vector<std::unique_ptr<QSignalSpy>> clicks;
    for (const char* name : {"cmdRepeat", "Command1", "cmdInformera"}) {
        clicks.push_back(std::make_unique<QSignalSpy>(button(name), &QPushButton::clicked));
        accessiblePress(button(name));
    }
    // The sentence ends before the event loop runs again, so the presses' clicks, which
    // follow on a timer, all come after its end.
    player->hearAll();
    QCoreApplication::sendPostedEvents();
    ASSERT_TRUE(sentenceOver());
    ASSERT_TRUE(takesInput());
    for (const auto& spy : clicks)
        ASSERT_TRUE(!spy->isEmpty() || spy->wait(10000));
    EXPECT_EQ(player->spoken.size(), 2u) << "a third sentence was started";
    EXPECT_EQ(visibleAboutWindows(), 0) << "a press on Informera got through";

    // A press once the sentence is over works again.
    QSignalSpy informed(button("cmdInformera"), &QPushButton::clicked);
    accessiblePress(button("cmdInformera"));
    ASSERT_TRUE(informed.wait(10000));
    EXPECT_EQ(visibleAboutWindows(), 1);
}

// Works a failed pick's message box: presses Repetera and Informera as a screen reader
// does while the box is open, and answers OK once both of their clicks have come.
class PressingWhileTheBoxIsOpen : public QObject {
public:
    explicit PressingWhileTheBoxIsOpen(std::vector<QPushButton*> buttons)
        : m_buttons(std::move(buttons)) {
        startTimer(0);
    }
    int boxes = 0;

protected:
    void timerEvent(QTimerEvent*) override {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible())
            return;
        if (m_clicks.empty()) {
            ++boxes;
            for (QPushButton* b : m_buttons) {
                m_clicks.push_back(std::make_unique<QSignalSpy>(b, &QPushButton::clicked));
                accessiblePress(b);
            }
            return;
        }
        if (std::all_of(m_clicks.begin(), m_clicks.end(),
                        [](auto& spy) { return !spy->isEmpty(); })) {
            m_clicks.clear();
            box->button(QMessageBox::Ok)->click();
        }
    }

private:
    std::vector<QPushButton*> m_buttons;
    std::vector<std::unique_ptr<QSignalSpy>> m_clicks;
};

TEST_F(FormTest, PressesWhileAFailedPicksMessageBoxIsOpenAreDropped) {
    clickAndListen("Command1");
    ASSERT_TRUE(button("cmdRepeat")->isEnabled());
    QFile::remove(dir.filePath(QStringLiteral("text/namn.txt")));
    player->spoken.clear();
    PressingWhileTheBoxIsOpen presser({button("cmdRepeat"), button("cmdInformera")});
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    ASSERT_TRUE(waitUntilSpoken());
    EXPECT_GE(presser.boxes, 1);
    EXPECT_EQ(visibleAboutWindows(), 0) << "Informera was taken while the box was open";
    // Exactly the new sentence, with its name slot empty, was spoken.
    ASSERT_EQ(player->spoken.size(), 1u) << "Repetera was taken while the box was open";
    EXPECT_EQ(player->spoken[0][0], u"");
    EXPECT_GE(templateOf(qt(player->spoken[0])), 1) << "not a whole new sentence";
    EXPECT_EQ(smisk()->text(), expectedLabel(14)) << "not the sentence that was spoken";
}

TEST_F(FormTest, ClosingTheWindowWhileAMessageBoxWaitsEndsTheSentence) {
    QFile::remove(dir.filePath(QStringLiteral("text/namn.txt")));
    QTimer closer;
    QObject::connect(&closer, &QTimer::timeout, form.get(), [&] {
        if (QApplication::activeModalWidget())
            form->close();
    });
    closer.start(0);
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    closer.stop();
    EXPECT_FALSE(form->isVisible());
    EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "the message box stayed open";
    EXPECT_TRUE(player->spoken.empty()) << "a sentence was spoken after the close";
    // The sentence ended where it was, the buttons left alone, and nothing blocks input.
    EXPECT_FALSE(button("Command1")->isEnabled());
    EXPECT_FALSE(button("cmdRepeat")->isEnabled());
    EXPECT_TRUE(takesInput());
}

TEST_F(FormTest, NoSoundIsSaidOnceUnobtrusivelyAndTheWordsStillShow) {
    struct Case {
        QString reason;
        QString notice;
    };
    const Case cases[] = {
        {QString(), QString()},
        {QStringLiteral("SDL_OpenAudioDevice: Connection refused"),
         QStringLiteral("Inget ljud: SDL_OpenAudioDevice: Connection refused")},
    };
    for (const Case& c : cases) {
        openForm();
        player->reason = core(c.reason);
        clickAndListen("Command1");
        EXPECT_EQ(smisk()->text(), expectedLabel(14));
        // The notice follows the data folder in the tooltip and the description alike.
        EXPECT_EQ(smisk()->toolTip().contains(QStringLiteral("Inget ljud")), !c.notice.isEmpty());
        EXPECT_EQ(smisk()->toolTip().endsWith(c.notice), true) << smisk()->toolTip().toStdString();
        EXPECT_EQ(form->accessibleDescription(), smisk()->toolTip());
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "no box may pop up for it";
        // Said once: a later reason does not replace it.
        player->reason = u"något annat";
        clickAndListen("Command1");
        if (!c.notice.isEmpty()) {
            EXPECT_TRUE(smisk()->toolTip().endsWith(c.notice));
            EXPECT_FALSE(smisk()->toolTip().contains(QStringLiteral("något annat")));
        }
    }
}

} // namespace
} // namespace brumlis::test
