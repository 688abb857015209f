#include "formfixture.h"
#include "forms/about.h"

#include <QAccessible>
#include <QAccessibleActionInterface>
#include <QApplication>
#include <QMessageBox>
#include <QMouseEvent>
#include <QScreen>
#include <QTest>

namespace brumlis::test {
namespace {

constexpr auto Prompt = "Tryck på Generera för att slumpa fram en mening.";

int visibleAboutWindows() {
    int n = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
        n += w->objectName() == QLatin1String("About") && w->isVisible();
    return n;
}

TEST_F(FormTest, ControlsSitWhereTheLayoutPutsThem) {
    struct Case {
        const char* name;
        QRect geometry;
    };
    const Case cases[] = {
        {"Image2", {120, 8, 292, 40}},    {"Image1", {8, 32, 107, 150}},
        {"smisk", {128, 64, 281, 89}},    {"cmdRepeat", {128, 160, 89, 22}},
        {"Command1", {224, 160, 89, 22}}, {"cmdInformera", {320, 160, 89, 22}},
    };
    for (const Case& c : cases) {
        QWidget* w = child(c.name);
        ASSERT_NE(w, nullptr);
        EXPECT_EQ(w->geometry(), c.geometry) << c.name;
        EXPECT_TRUE(w->isVisible()) << c.name;
    }
    // No two controls overlap.
    for (const Case& a : cases) {
        for (const Case& b : cases) {
            if (&a != &b) {
                EXPECT_FALSE(a.geometry.intersects(b.geometry)) << a.name << " / " << b.name;
            }
        }
    }
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
    EXPECT_EQ(form->sentence().TemplateNo, 0);

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
            QTest::mouseClick(button("Command1"), Qt::LeftButton);
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
        std::size_t plays; // 15 when a sentence is spoken
        bool aboutOpens;
    };
    const Case cases[] = {
        {"Command1", Qt::Key_Return, 15, false},    {"Command1", Qt::Key_Enter, 15, false},
        {"Command1", Qt::Key_Space, 15, false},     {"Command1", Qt::Key_Escape, 0, false},
        {"cmdInformera", Qt::Key_Return, 0, true},  {"cmdInformera", Qt::Key_Space, 0, true},
        {"cmdInformera", Qt::Key_Escape, 0, false},
    };
    for (const Case& c : cases) {
        player->calls.clear();
        button(c.focused)->setFocus();
        QTest::keyClick(button(c.focused), c.key);
        EXPECT_EQ(player->calls.size(), c.plays) << c.focused << " key " << c.key;
        EXPECT_EQ(visibleAboutWindows(), c.aboutOpens ? 1 : 0) << c.focused << " key " << c.key;
        EXPECT_TRUE(form->isVisible());
        closeStrayWindows();
        form->activateWindow();
        ASSERT_TRUE(QTest::qWaitForWindowActive(form.get()));
    }
}

TEST_F(FormTest, GenereraShowsEachWordBeforeItsSoundAndEndsEnabledOnGenerera) {
    QTest::mouseClick(button("Command1"), Qt::LeftButton);

    const SentenceBuffer& s = form->sentence();
    ASSERT_GE(s.TemplateNo, 1);
    ASSERT_LE(s.TemplateNo, 11);
    ASSERT_EQ(player->calls.size(), 15u);
    int used = 0;
    while (used < 15 && !s.WordText(used).isEmpty())
        ++used;
    EXPECT_GE(used, 4);
    EXPECT_LE(used, 8);
    for (int i = 0; i < 15; ++i) {
        const WaitingPlayer::Call& call = player->calls[std::size_t(i)];
        EXPECT_EQ(call.labelAtPlay, expectedLabel(i)) << "slot " << i;
        EXPECT_EQ(call.path, s.SoundFile(i)) << "slot " << i;
        EXPECT_EQ(call.path.isEmpty(), i >= used) << "slot " << i;
        EXPECT_FALSE(call.generateEnabled) << "Generera must stay disabled while speaking";
    }
    EXPECT_EQ(player->calls[0].labelAtPlay, s.WordText(0) + u' ');
    EXPECT_EQ(player->drains, 1);
    EXPECT_EQ(smisk()->text(), expectedLabel(14));
    EXPECT_TRUE(smisk()->text().endsWith(QString(15 - used + 1, u' ')));
    EXPECT_TRUE(button("cmdRepeat")->isEnabled());
    EXPECT_TRUE(button("Command1")->isEnabled());
    EXPECT_EQ(QApplication::focusWidget(), button("Command1"));
    EXPECT_FALSE(form->isSpeaking());
}

TEST_F(FormTest, RepeteraSpeaksTheSameSentenceAgainEveryTime) {
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    const std::vector<WaitingPlayer::Call> first = player->calls;
    ASSERT_EQ(first.size(), 15u);

    // Edited lists must not change what Repetera says.
    writeList(QStringLiteral("namn"), {QStringLiteral("Stina")});
    for (int round = 0; round < 3; ++round) {
        player->calls.clear();
        button("cmdRepeat")->setFocus();
        QTest::mouseClick(button("cmdRepeat"), Qt::LeftButton);
        ASSERT_EQ(player->calls.size(), 15u) << "round " << round;
        for (std::size_t i = 0; i < 15; ++i) {
            EXPECT_EQ(player->calls[i].path, first[i].path) << "slot " << i;
            EXPECT_EQ(player->calls[i].labelAtPlay, first[i].labelAtPlay) << "slot " << i;
            // The repeat path disables nothing.
            EXPECT_TRUE(player->calls[i].generateEnabled);
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
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    EXPECT_TRUE(smisk()->text().startsWith(longWord));
    EXPECT_EQ(smisk()->geometry(), QRect(128, 64, 281, 89));
    EXPECT_EQ(form->size(), QSize(419, 190));
    // The text really is taller than the label: it is cut off, not shrunk.
    EXPECT_GT(smisk()->heightForWidth(281), 89);
}

TEST_F(FormTest, WindowKeepsProcessingEventsWhileSpeaking) {
    // Each play call queues an event; it must have been handled by the next call, which
    // only happens when the player's waits run the event loop.
    int handledInTime = 0;
    bool handled = false;
    player->onPlay = [&](int call) {
        if (call > 0)
            handledInTime += handled;
        handled = false;
        QMetaObject::invokeMethod(
            form.get(), [&] { handled = true; }, Qt::QueuedConnection);
    };
    QTest::mouseClick(button("Command1"), Qt::LeftButton);
    EXPECT_EQ(handledInTime, 14);
}

TEST_F(FormTest, InputDuringASentenceIsDroppedNotReplayed) {
    QPushButton* generate = button("Command1");
    QPushButton* informera = button("cmdInformera");
    player->onPlay = [&](int call) {
        if (call != 2)
            return;
        // Delivered at once while the player waits ...
        QTest::mouseClick(informera, Qt::LeftButton);
        QTest::mouseClick(generate, Qt::LeftButton);
        QTest::keyClick(informera, Qt::Key_Space);
        // ... and queued, as input that arrives while the player waits would be.
        const QPointF at = QRectF(informera->rect()).center();
        for (QEvent::Type type : {QEvent::MouseButtonPress, QEvent::MouseButtonRelease})
            QCoreApplication::postEvent(
                informera, new QMouseEvent(type, at, informera->mapToGlobal(at), Qt::LeftButton,
                                           Qt::LeftButton, Qt::NoModifier));
        QCoreApplication::postEvent(
            generate, new QKeyEvent(QEvent::KeyPress, Qt::Key_Return, Qt::NoModifier));
    };
    QTest::mouseClick(generate, Qt::LeftButton);
    player->onPlay = nullptr;
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();

    EXPECT_EQ(player->calls.size(), 15u) << "a second sentence was started";
    EXPECT_EQ(visibleAboutWindows(), 0) << "a click on Informera got through";

    // Once the sentence is over, the same input works again.
    QTest::mouseClick(informera, Qt::LeftButton);
    EXPECT_EQ(visibleAboutWindows(), 1);
}

TEST_F(FormTest, ClosingTheWindowMidSentenceStopsIt) {
    struct Case {
        int closeAtCall;
    };
    for (Case c : {Case{0}, Case{3}, Case{14}}) {
        SetUp();
        player->onPlay = [&](int call) {
            if (call == c.closeAtCall)
                form->close();
        };
        QTest::mouseClick(button("Command1"), Qt::LeftButton);
        EXPECT_EQ(player->calls.size(), std::size_t(c.closeAtCall + 1)) << c.closeAtCall;
        EXPECT_EQ(player->stops, 1);
        EXPECT_FALSE(form->isVisible());
        EXPECT_FALSE(form->isSpeaking());
        EXPECT_FALSE(button("cmdRepeat")->isEnabled()) << "speaking went on after the close";
        EXPECT_EQ(smisk()->text(), expectedLabel(c.closeAtCall));
        TearDown();
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
            player->calls.clear();
            MessageBoxAnswerer answerer;
            QTest::mouseClick(button("Command1"), Qt::LeftButton);
            const int t = form->sentence().TemplateNo;
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
            EXPECT_EQ(player->calls.size(), 15u) << "the sentence must go on";
            EXPECT_TRUE(button("Command1")->isEnabled());
        }
        writeList(QString::fromUtf8(c.missing), {QStringLiteral("x")});
    }
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
    actions->doAction(QAccessibleActionInterface::pressAction());
    // The press is animated: the click follows from the event loop.
    ASSERT_TRUE(QTest::qWaitFor([&] { return player->calls.size() == 15u; }));
    QAccessibleInterface* label = QAccessible::queryAccessibleInterface(smisk());
    EXPECT_EQ(label->text(QAccessible::Name), expectedLabel(14));
    EXPECT_TRUE(label->text(QAccessible::Name).startsWith(QStringLiteral("Kalle ")));
    EXPECT_TRUE(generate->state().focused);
}

TEST_F(FormTest, AnAccessibilityPressWhileSpeakingIsDroppedOnEveryButton) {
    QTest::mouseClick(button("Command1"), Qt::LeftButton); // Repetera is enabled from now on
    const std::size_t firstSentence = player->calls.size();
    player->onPlay = [&](int call) {
        if (call != int(firstSentence) + 2)
            return;
        for (const char* name : {"cmdRepeat", "Command1", "cmdInformera"}) {
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(button(name));
            ASSERT_NE(iface, nullptr);
            iface->actionInterface()->doAction(QAccessibleActionInterface::pressAction());
        }
    };
    QTest::mouseClick(button("cmdRepeat"), Qt::LeftButton);
    player->onPlay = nullptr;
    // The presses click a moment later, from a timer: by then the sentence may be over.
    QTest::qWait(400);
    EXPECT_EQ(player->calls.size(), 2 * firstSentence) << "a third sentence was started";
    EXPECT_EQ(visibleAboutWindows(), 0) << "a press on Informera got through";

    // A press once the sentence is over works again.
    QAccessible::queryAccessibleInterface(button("cmdInformera"))
        ->actionInterface()
        ->doAction(QAccessibleActionInterface::pressAction());
    EXPECT_TRUE(QTest::qWaitFor([] { return visibleAboutWindows() == 1; }));
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
        SetUp();
        player->reason = c.reason;
        QTest::mouseClick(button("Command1"), Qt::LeftButton);
        EXPECT_EQ(smisk()->text(), expectedLabel(14));
        // The notice follows the data folder in the tooltip and the description alike.
        EXPECT_EQ(smisk()->toolTip().contains(QStringLiteral("Inget ljud")), !c.notice.isEmpty());
        EXPECT_EQ(smisk()->toolTip().endsWith(c.notice), true) << smisk()->toolTip().toStdString();
        EXPECT_EQ(form->accessibleDescription(), smisk()->toolTip());
        EXPECT_EQ(QApplication::activeModalWidget(), nullptr) << "no box may pop up for it";
        // Said once: a later reason does not replace it.
        player->reason = QStringLiteral("något annat");
        QTest::mouseClick(button("Command1"), Qt::LeftButton);
        if (!c.notice.isEmpty()) {
            EXPECT_TRUE(smisk()->toolTip().endsWith(c.notice));
            EXPECT_FALSE(smisk()->toolTip().contains(QStringLiteral("något annat")));
        }
        TearDown();
    }
}

} // namespace
} // namespace brumlis::test
