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

/// A main window with a fake player that hears every sentence at once, on word lists of
/// one word each, shown and active. Every word the window shows is noted with what the
/// window looked like then.
class FormTest : public ::testing::Test {
protected:
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

    /// The label text after slot `last` has been appended, built from the buffer.
    QString expectedLabel(int last) const;
    /// Clicks `name` and waits until the sentence it started has been spoken.
    void clickAndListen(const char* name);
    /// Waits until the window is idle again.
    bool waitUntilSpoken() const;

    struct Shown {
        QString label;
        bool generateEnabled;
    };

    TempDir dir;
    FakePlayer* player = nullptr;
    std::unique_ptr<Brumform> form;
    std::vector<Shown> shown; ///< at every word put on screen
};

/// Closes and deletes what is left over of top-level windows (About, message boxes).
void closeStrayWindows();

} // namespace brumlis::test
