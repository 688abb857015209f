#pragma once

#include "brumlis/forms/brumform.h"
#include "support/fakes.h"
#include "support/tempdir.h"

#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace brumlis {
class About;
}

namespace brumlis::test {

/// Answers message boxes as they come up: notes each one and presses its OK button.
class MessageBoxAnswerer : public QObject {
public:
    struct Box {
        QString caption;
        QString text;
        int icon;
        QStringList buttons;
    };

    MessageBoxAnswerer();
    std::vector<Box> boxes;

protected:
    void timerEvent(QTimerEvent*) override;
};

/// Notes each text a label puts on screen (empty ones aside), with whether `generate` could
/// be pressed at that moment. The window paints a word the moment it shows it, so every
/// word reaches the label as an event before the next one does.
class LabelWatch final : public QObject {
public:
    struct Shown {
        QString label;
        bool generateEnabled;
    };

    LabelWatch(QLabel* label, QPushButton* generate, std::vector<Shown>* shown);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QLabel* m_label;
    QPushButton* m_generate;
    std::vector<Shown>* m_shown;
    QString m_last;
};

/// A main window with a fake player that hears every sentence at once, on word lists of
/// one word each, shown and active. Every word the window shows is noted with what the
/// window looked like then. The tests read the window as a person or a screen reader does,
/// through its widgets, and what the player was asked to play.
class FormTest : public ::testing::Test {
protected:
    using Shown = LabelWatch::Shown;

    void SetUp() override;
    void TearDown() override;
    /// A new main window in place of the old one, on the same lists.
    void openForm();

    /// Writes text/<category>.txt holding `words`, one a line.
    void writeList(const QString& category, const QStringList& words);

    template <class T = QWidget> T* child(const char* name) const {
        T* widget = form->findChild<T*>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QPushButton* button(const char* name) const { return child<QPushButton>(name); }
    QLabel* smisk() const { return child<QLabel>("smisk"); }

    /// The label text once slot `last` of the sentence the player was given last has been
    /// shown: each slot's word, the one its clip says, and a space.
    QString expectedLabel(int last) const;
    /// Which of the eleven built-in templates, filled from the lists as they are now, gives
    /// exactly the clips `paths`: 1 to 11, or 0 for none. A list that is not there leaves
    /// its slots empty, as a failed pick does.
    int templateOf(const QStringList& paths) const;
    /// Clicks `name` and waits until the sentence it started has been spoken.
    void clickAndListen(const char* name);
    /// Generera can be pressed and the label shows the whole sentence the player was given
    /// last (if any): the window is idle.
    bool sentenceOver() const;
    /// Waits until the window is idle again, looking whenever the label or Generera changes.
    bool waitUntilSpoken() const;
    /// Whether the program takes a key press at all: while it composes or speaks it takes
    /// none, anywhere.
    static bool takesInput();

    TempDir dir;
    FakePlayer* player = nullptr;
    std::unique_ptr<Brumform> form;
    std::vector<Shown> shown; ///< at every word put on screen
    std::unique_ptr<LabelWatch> watch;
};

/// The About window, found as a screen reader finds it: the top-level window named About.
/// Null when none is open.
About* aboutWindow();

/// Closes and deletes what is left over of top-level windows (About, message boxes).
void closeStrayWindows();

} // namespace brumlis::test
