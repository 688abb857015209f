// The studio window over its session: every key reaches its action through its button, and
// the panels show what the session holds, as a screen reader would read it: the window is
// read and worked only through its widgets.
#include "brumlis/studio/studiowindow.h"
#include "fakeconnection.h"
#include "studiofixture.h"
#include "support/eventwait.h"
#include "support/fakes.h"

#include <QAccessible>
#include <QLabel>
#include <QListWidget>
#include <QPushButton>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QTreeWidget>
#include <gtest/gtest.h>
#include <optional>

namespace brumlis {
namespace {

constexpr int Rate = SoundInput::CaptureRate;

/// A cut as the window tells it: where it starts and ends, in hundredths of a second,
/// which is the step a key moves it by.
struct ShownCut {
    int start = -1, end = -1;
    bool operator==(const ShownCut&) const = default;
};

void PrintTo(const ShownCut& cut, std::ostream* out) {
    *out << cut.start << "–" << cut.end;
}

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
        window->show();
        // The folder has been read once the words are listed and the status line no
        // longer says it is reading.
        auto* words = child<QTreeWidget>("wordList");
        auto* status = child<QLabel>("statusLine");
        ASSERT_TRUE(test::untilSeen({words, status}, [&] {
            return words->topLevelItemCount() > 0 && !status->text().startsWith(u"Läser ");
        }));
    }
    template <class T = QWidget> T* child(const char* name) const {
        T* widget = window->findChild<T*>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QString text(const char* label) const { return child<QLabel>(label)->text(); }
    bool enabled(const char* button) const { return child<QPushButton>(button)->isEnabled(); }
    /// The record button says Stoppa while a take runs.
    bool recording() const {
        return child<QPushButton>("recordButton")->text().startsWith(u"Stoppa");
    }
    void record() {
        auto* takes = child<QListWidget>("takeList");
        const int before = takes->count();
        QTest::keyClick(window.get(), Qt::Key_Space);
        fake->feed(test::makeWord({}, Rate).samples);
        ASSERT_TRUE(test::untilSeen({takes, takes->viewport(), child("cutLabel")},
                                    [&] { return takes->count() == before + 1; }));
    }
    ShownCut cut() const {
        static const QRegularExpression shown(
            QStringLiteral("^Klipp (\\d+),(\\d\\d)–(\\d+),(\\d\\d) s av "));
        const QRegularExpressionMatch m = shown.match(text("cutLabel"));
        if (!m.hasMatch())
            return {};
        return {m.captured(1).toInt() * 100 + m.captured(2).toInt(),
                m.captured(3).toInt() * 100 + m.captured(4).toInt()};
    }

    test::StudioFolder folder;
    test::FakeConnection* fake = nullptr;
    test::FakePlayer* player = nullptr;
    std::unique_ptr<StudioWindow> window;
};

// Each key presses its button, whichever control has the focus, and the button does what
// the window then shows; a disabled button's key does nothing.
TEST_F(StudioWindowTest, EveryKeyReachesItsActionThroughItsButton) {
    child("wordList")->setFocus();
    ASSERT_NO_FATAL_FAILURE(record());
    const ShownCut found = cut();
    ASSERT_NE(found, ShownCut{}) << text("cutLabel").toStdString();
    const QString automatic = text("cutLabel");
    const QString first = text("currentWord");
    struct Case {
        const char* button;
        Qt::Key key;
        Qt::KeyboardModifiers modifiers;
        std::function<bool()> done;
    };
    // By hundredths of a second from the cut found; back where it was, the cut is the
    // automatic one again.
    const auto cutAt = [&](int start, int end) {
        return [&, start, end] {
            const ShownCut now = cut();
            return now == ShownCut{found.start + start, found.end + end} &&
                   (start == 0 && end == 0) == (text("cutLabel") == automatic);
        };
    };
    const std::size_t heard = player->spoken.size();
    const Case cases[] = {
        {"playButton", Qt::Key_P, {}, [&] { return player->spoken.size() == heard + 1; }},
        {"cutStartEarlierButton", Qt::Key_BracketLeft, {}, cutAt(-1, 0)},
        {"cutStartEarlierButton", Qt::Key_Left, Qt::ControlModifier, cutAt(-2, 0)},
        {"cutStartLaterButton", Qt::Key_BracketRight, {}, cutAt(-1, 0)},
        {"cutStartLaterButton", Qt::Key_Right, Qt::ControlModifier, cutAt(0, 0)},
        {"cutEndEarlierButton", Qt::Key_BraceLeft, {}, cutAt(0, -1)},
        {"cutEndEarlierButton", Qt::Key_Left, Qt::ControlModifier | Qt::ShiftModifier,
         cutAt(0, -2)},
        {"cutEndLaterButton", Qt::Key_BraceRight, {}, cutAt(0, -1)},
        {"cutEndLaterButton", Qt::Key_Right, Qt::ControlModifier | Qt::ShiftModifier, cutAt(0, 0)},
        {"cutEndLaterButton", Qt::Key_BraceRight, {}, cutAt(0, 1)},
        {"resetCutButton", Qt::Key_K, {}, cutAt(0, 0)},
        {"retakeButton", Qt::Key_R, {}, [&] { return recording(); }},
        {"recordButton", Qt::Key_Space, {}, [&] { return !recording(); }},
        {"tryButton", Qt::Key_T, {}, [&] { return !enabled("recordButton"); }},
        {"keepButton", Qt::Key_Return, {}, [&] { return enabled("backButton"); }},
        {"backButton", Qt::Key_Backspace, {}, [&] { return !enabled("backButton"); }},
        {"backButton", Qt::Key_Backspace, {}, [&] { return !enabled("backButton"); }},
        {"skipButton", Qt::Key_S, {}, [&] { return text("currentWord") != first; }},
    };
    // What a press changes may come through the event loop (a take starts and ends on the
    // recorder's word): looked at again whenever one of these is drawn or changes.
    const std::vector<QObject*> shows = {child("recordButton"), child("backButton"),
                                         child("cutLabel"), child("currentWord")};
    for (const Case& c : cases) {
        SCOPED_TRACE(c.button);
        auto* button = child<QPushButton>(c.button);
        const bool enabled = button->isEnabled();
        QSignalSpy clicked(button, &QPushButton::clicked);
        QTest::keyClick(window.get(), c.key, c.modifiers);
        EXPECT_EQ(clicked.count(), enabled ? 1 : 0);
        EXPECT_TRUE(test::untilSeen(shows, c.done));
    }

    // Kalle, chosen in the list as a person clicks it, has a recording to listen to.
    auto* words = child<QTreeWidget>("wordList");
    const QList<QTreeWidgetItem*> kalle =
        words->findItems(QStringLiteral("Kalle"), Qt::MatchExactly, 0);
    ASSERT_EQ(kalle.size(), 1);
    words->scrollToItem(kalle[0]);
    QTest::mouseClick(words->viewport(), Qt::LeftButton, {},
                      words->visualItemRect(kalle[0]).center());
    auto* playSaved = child<QPushButton>("playSavedButton");
    ASSERT_TRUE(test::untilSeen({playSaved}, [&] { return playSaved->isEnabled(); }));
    QTest::keyClick(window.get(), Qt::Key_L);
    EXPECT_EQ(player->spoken.back().front(), u"sound/Kalle.wav");
    // The take kept above has been saved once it can be undone.
    auto* undo = child<QPushButton>("undoButton");
    ASSERT_TRUE(test::untilSeen({undo}, [&] { return undo->isEnabled(); }));
    QTest::keyClick(window.get(), Qt::Key_Z, Qt::ControlModifier);
    auto* status = child<QLabel>("statusLine");
    EXPECT_TRUE(test::untilSeen({status}, [&] { return status->text().startsWith(u"Ångrade: "); }))
        << status->text().toStdString();
}

// Every label shows its text and is read out with it, its role as the description; the
// lists show the words and the takes, and the labels what the lists say of them.
TEST_F(StudioWindowTest, ThePanelsShowTheSession) {
    ASSERT_NO_FATAL_FAILURE(record());
    QTest::keyClick(window.get(), Qt::Key_S);
    QTest::keyClick(window.get(), Qt::Key_Backspace);
    // Back on the word, its take is read again from the disk.
    auto* takes = child<QListWidget>("takeList");
    ASSERT_TRUE(test::untilSeen({takes, takes->viewport(), child("cutLabel")},
                                [&] { return takes->count() > 0; }));

    const auto* words = child<QTreeWidget>("wordList");
    ASSERT_GT(words->topLevelItemCount(), 1);
    EXPECT_EQ(words->topLevelItem(0)->text(1), QStringLiteral("saknas, överhoppad"));
    ASSERT_EQ(words->indexOfTopLevelItem(words->currentItem()), 0);
    int recorded = 0;
    for (int i = 0; i < words->topLevelItemCount(); ++i)
        recorded += words->topLevelItem(i)->text(1).startsWith(u"inspelad");
    EXPECT_GE(recorded, 1) << "Kalle is recorded";
    const QString word = words->topLevelItem(0)->text(0);
    const QString state = words->topLevelItem(0)->text(1).section(u',', 0, 0);
    ASSERT_EQ(takes->count(), 1);
    EXPECT_EQ(takes->currentRow(), 0);
    const QString row = takes->item(0)->text();
    // "Tagning 1: <loudness> LUFS, …": the figures tell the same loudness.
    const QString loudness = row.section(u' ', 2, 2);
    EXPECT_TRUE(row.startsWith(QStringLiteral("Tagning 1: "))) << row.toStdString();

    const struct {
        const char* name;
        std::optional<QString> text; // what it must say, when the lists tell
        const char* role;
    } labels[] = {
        {"progressLabel",
         QStringLiteral("%1 av %2 inspelade").arg(recorded).arg(words->topLevelItemCount()),
         "Inspelade ord"},
        {"previousWord", QString(), "Föregående ord"}, // the first word
        {"currentWord", word, "Ord att säga"},
        {"nextWord", words->topLevelItem(1)->text(0) + QStringLiteral(" →"), "Nästa ord"},
        {"wordState", state.left(1).toUpper() + state.mid(1), "Ordets inspelning"},
        {"exampleSentence", std::nullopt, "Exempelmening"},
        {"takeFigures", std::nullopt, "Tagningens nivåer"},
        {"cutLabel", std::nullopt, "Klipp"},
        {"soundNotice", QString(), "Ljud"},
        {"statusLine", std::nullopt, "Status"},
    };
    for (const auto& l : labels) {
        SCOPED_TRACE(l.name);
        QLabel* label = child<QLabel>(l.name);
        if (l.text) {
            EXPECT_EQ(label->text(), *l.text);
        }
        QAccessibleInterface* read = QAccessible::queryAccessibleInterface(label);
        EXPECT_EQ(read->text(QAccessible::Name), label->text());
        EXPECT_EQ(read->text(QAccessible::Description), QString::fromUtf8(l.role));
    }
    EXPECT_TRUE(text("exampleSentence").contains(word)) << text("exampleSentence").toStdString();
    EXPECT_TRUE(text("takeFigures").startsWith(QStringLiteral("Ljudstyrka %1 LUFS").arg(loudness)))
        << text("takeFigures").toStdString() << " / " << row.toStdString();
    EXPECT_TRUE(text("cutLabel").startsWith(u"Klipp ")) << text("cutLabel").toStdString();
    EXPECT_FALSE(child("soundNotice")->isVisible()) << "nothing to tell";
    EXPECT_EQ(child("cutView")->accessibleDescription(), text("cutLabel"));
}

} // namespace
} // namespace brumlis
