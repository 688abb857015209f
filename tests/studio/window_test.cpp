// The studio window over its session: every key reaches its action through its button, and
// the panels show what the session holds, as a screen reader would read it.
#include "brumlis/studio/studiowindow.h"
#include "fakeconnection.h"
#include "studiofixture.h"
#include "support/fakes.h"

#include <QAccessible>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>

namespace brumlis {
namespace {

using Action = StudioSession::Action;
using Text = StudioSession::Text;
constexpr int Rate = SoundInput::CaptureRate;
constexpr std::int64_t Step = Rate / 100;

class StudioWindowTest : public ::testing::Test {
protected:
    void SetUp() override {
        folder.lists();
        folder.recording(QStringLiteral("Kalle.wav"));
        auto server = std::make_unique<test::FakeConnection>();
        fake = server.get();
        auto speaker = std::make_unique<test::FakePlayer>();
        player = speaker.get();
        window = std::make_unique<StudioWindow>(std::move(server), folder.dir.path(),
                                                std::make_unique<test::AnsweringQuestions>(),
                                                std::move(speaker));
        QSignalSpy read(&session(), &StudioSession::folderRead);
        window->show();
        ASSERT_TRUE(read.wait(10000));
    }
    StudioSession& session() { return window->session(); }
    template <class T = QWidget> T* child(const char* name) const {
        T* widget = window->findChild<T*>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    void record() {
        QSignalSpy shown(&session(), &StudioSession::takeShown);
        QTest::keyClick(window.get(), Qt::Key_Space);
        fake->feed(test::makeWord({}, Rate).samples);
        ASSERT_TRUE(shown.wait(10000));
    }
    TrimPoints cut() { return session().takes()[std::size_t(session().chosenTake())].trim; }

    test::StudioFolder folder;
    test::FakeConnection* fake = nullptr;
    test::FakePlayer* player = nullptr;
    std::unique_ptr<StudioWindow> window;
};

// Each key presses its button, whichever control has the focus, and the button does what
// the session does for it; a disabled button's key does nothing.
TEST_F(StudioWindowTest, EveryKeyReachesItsActionThroughItsButton) {
    child("wordList")->setFocus();
    ASSERT_NO_FATAL_FAILURE(record());
    const TrimPoints found = cut();
    const QString first = session().text(Text::CurrentWord);
    struct Case {
        const char* button;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::function<bool()> done;
    };
    const auto cutAt = [&](std::int64_t start, std::int64_t end) {
        return [&, start, end] {
            return cut() == TrimPoints{found.start + start, found.end + end};
        };
    };
    const std::size_t heard = player->spoken.size();
    const Case cases[] = {
        {"playButton", Qt::Key_P, {}, [&] { return player->spoken.size() == heard + 1; }},
        {"cutStartEarlierButton", Qt::Key_BracketLeft, {}, cutAt(-Step, 0)},
        {"cutStartEarlierButton", Qt::Key_Left, Qt::ControlModifier, cutAt(-2 * Step, 0)},
        {"cutStartLaterButton", Qt::Key_BracketRight, {}, cutAt(-Step, 0)},
        {"cutStartLaterButton", Qt::Key_Right, Qt::ControlModifier, cutAt(0, 0)},
        {"cutEndEarlierButton", Qt::Key_BraceLeft, {}, cutAt(0, -Step)},
        {"cutEndEarlierButton", Qt::Key_Left, Qt::ControlModifier | Qt::ShiftModifier,
         cutAt(0, -2 * Step)},
        {"cutEndLaterButton", Qt::Key_BraceRight, {}, cutAt(0, -Step)},
        {"cutEndLaterButton", Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier, cutAt(0, 0)},
        {"cutEndLaterButton", Qt::Key_BraceRight, {}, cutAt(0, Step)},
        {"resetCutButton", Qt::Key_K, {}, cutAt(0, 0)},
        {"retakeButton", Qt::Key_R, {}, [&] { return session().isRecording(); }},
        {"recordButton", Qt::Key_Space, {}, [&] { return !session().isRecording(); }},
        {"tryButton", Qt::Key_T, {}, [&] { return !session().canDo(Action::Record); }},
        {"keepButton", Qt::Key_Return, {}, [&] { return session().canDo(Action::Back); }},
        {"backButton", Qt::Key_Backspace, {}, [&] { return !session().canDo(Action::Back); }},
        {"backButton", Qt::Key_Backspace, {}, [&] { return !session().canDo(Action::Back); }},
        {"skipButton", Qt::Key_S, {}, [&] { return session().text(Text::CurrentWord) != first; }},
    };
    QSignalSpy saved(&session(), &StudioSession::saved);
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        auto* button = child<QPushButton>(c.button);
        const bool enabled = button->isEnabled();
        QSignalSpy clicked(button, &QPushButton::clicked);
        QTest::keyClick(window.get(), c.key, c.modifiers);
        EXPECT_EQ(clicked.count(), enabled ? 1 : 0);
        EXPECT_TRUE(c.done());
    }

    session().chooseWord(test::indexOf(session(), QStringLiteral("Kalle")));
    ASSERT_TRUE(test::waitUntil(&session(), &StudioSession::controlsChanged,
                                [&] { return session().canDo(Action::ListenToSaved); }));
    QTest::keyClick(window.get(), Qt::Key_L);
    EXPECT_EQ(player->spoken.back().front(), QStringLiteral("sound/Kalle.wav"));
    ASSERT_TRUE(saved.count() > 0 || saved.wait(10000));
    QSignalSpy undone(&session(), &StudioSession::undone);
    QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
    EXPECT_TRUE(undone.wait(10000));
}

// Every label shows its text and is read out with it, its role as the description; the
// lists show the words and the takes as the session holds them.
TEST_F(StudioWindowTest, ThePanelsShowTheSession) {
    ASSERT_NO_FATAL_FAILURE(record());
    session().skip();
    session().back();
    ASSERT_TRUE(test::waitUntil(&session(), &StudioSession::takesChanged,
                                [&] { return !session().takes().empty(); }));
    const struct {
        const char* name;
        Text text;
        const char* role;
    } labels[] = {
        {"progressLabel", Text::Progress, "Inspelade ord"},
        {"previousWord", Text::PreviousWord, "Föregående ord"},
        {"currentWord", Text::CurrentWord, "Ord att säga"},
        {"nextWord", Text::NextWord, "Nästa ord"},
        {"wordState", Text::WordState, "Ordets inspelning"},
        {"exampleSentence", Text::Example, "Exempelmening"},
        {"takeFigures", Text::Figures, "Tagningens nivåer"},
        {"cutLabel", Text::Cut, "Klipp"},
        {"soundNotice", Text::Notice, "Ljud"},
        {"statusLine", Text::Status, "Status"},
    };
    for (const auto& l : labels) {
        SCOPED_TRACE(l.name);
        QLabel* label = child<QLabel>(l.name);
        EXPECT_EQ(label->text(), session().text(l.text));
        QAccessibleInterface* read = QAccessible::queryAccessibleInterface(label);
        EXPECT_EQ(read->text(QAccessible::Name), label->text());
        EXPECT_EQ(read->text(QAccessible::Description), QString::fromUtf8(l.role));
    }
    EXPECT_FALSE(session().text(Text::Cut).isEmpty());
    EXPECT_FALSE(child("soundNotice")->isVisible()) << "nothing to tell";
    EXPECT_EQ(child("cutView")->accessibleDescription(), session().text(Text::Cut));

    const auto* words = child<QTreeWidget>("wordList");
    ASSERT_EQ(words->topLevelItemCount(), session().queue().size());
    EXPECT_EQ(words->topLevelItem(0)->text(1), QStringLiteral("saknas, överhoppad"));
    EXPECT_EQ(words->indexOfTopLevelItem(words->currentItem()), session().queue().current());
    const auto* takes = child<QListWidget>("takeList");
    ASSERT_EQ(takes->count(), 1);
    EXPECT_EQ(takes->item(0)->text(), session().takeRow(0));
    EXPECT_EQ(takes->currentRow(), session().chosenTake());
}

} // namespace
} // namespace brumlis
