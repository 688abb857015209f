#pragma once

#include "forms/brumform.h"
#include "playback/soundplayer.h"
#include "support/tempdir.h"

#include <QLabel>
#include <QPushButton>
#include <QStringList>
#include <functional>
#include <gtest/gtest.h>
#include <memory>
#include <vector>

namespace brumlis::test {

/// A player that behaves like a real one waiting for its clip: every play call runs
/// the idle hook. It notes what the window showed at each call.
class WaitingPlayer final : public SoundPlayer {
public:
    struct Call {
        QString path;
        QString labelAtPlay;
        bool generateEnabled;
    };

    void play(const QString& path) override;
    void drain() override {
        ++drains;
        idle();
    }
    void stop() override { ++stops; }
    QString unavailableReason() const override { return reason; }

    std::vector<Call> calls;
    QString reason;
    int drains = 0;
    int stops = 0;
    /// Runs at every play call, after the call has been noted and before the idle hook.
    std::function<void(int call)> onPlay;
    Brumform* form = nullptr;
};

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

/// A main window with a recording player, on word lists of one word each, shown and
/// active.
class FormTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    /// Writes text/<category>.txt holding `words`, one a line.
    void writeList(const QString& category, const QStringList& words);

    template <class T = QWidget> T* child(const char* name) const {
        T* widget = form->findChild<T*>(QLatin1String(name));
        EXPECT_NE(widget, nullptr) << name;
        return widget;
    }
    QPushButton* button(const char* name) const { return child<QPushButton>(name); }
    QLabel* smisk() const { return child<QLabel>("smisk"); }

    /// The label text after slot `last` has been appended, built from the buffer.
    QString expectedLabel(int last) const;

    TempDir dir;
    WaitingPlayer* player = nullptr;
    std::unique_ptr<Brumform> form;
};

/// Closes and deletes what is left over of top-level windows (About, message boxes).
void closeStrayWindows();

} // namespace brumlis::test
