#pragma once

#include "brumlis/audio/wavfile.h"
#include "brumlis/studio/studiowindow.h"
#include "support/speechclip.h"
#include "support/tempdir.h"

#include <QFile>
#include <QLabel>
#include <QTreeWidget>
#include <deque>
#include <gtest/gtest.h>

// Readable failures: gtest prints a QString as its text.
inline void PrintTo(const QString& text, std::ostream* out) {
    *out << '"' << text.toStdString() << '"';
}

namespace brumlis::test {

/// A data folder with one short list per word class.
struct StudioFolder {
    TempDir dir;

    void list(const char* wordClass, const QByteArray& bytes) const {
        dir.write(QStringLiteral("text/%1.txt").arg(QString::fromUtf8(wordClass)), bytes);
    }
    /// Names: namn Kalle, Lisa, Nils, Olle; one word in every other list.
    void lists() const {
        dir.mkdir(QStringLiteral("sound"));
        list("namn", "Kalle\nLisa\nNils\nOlle\n");
        list("adj", "glad");
        list("adj_neu", "glatt");
        list("färg", "röd");
        list("sub", "apa");
        list("sub_neu", "bord");
        list("sub_reale", "bil");
        list("verb_pre", "springer");
        list("verb_per", "sprungit");
        list("prep", "på");
        list("plats", "hemma");
    }
    /// sound/<name>: a made-up word as 16-bit PCM, marked with `software`.
    void recording(const QString& name, double burstDbfs = -20.0,
                   const char* software = nullptr) const {
        WordShape shape;
        shape.leadSeconds = 0.0;
        shape.trailSeconds = 0.0;
        shape.burstDbfs = burstDbfs;
        const SpokenWord word = makeWord(shape, 22050);
        dir.write(QStringLiteral("sound/") + name,
                  encodeWav(toPcm16(word.samples), 22050, 1, software));
    }
    QString sound(const QString& name) const {
        return dir.filePath(QStringLiteral("sound/") + name);
    }
};

/// Answers the studio's questions from a queue (no, once it is empty) and notes them.
class AnsweringQuestions final : public StudioQuestions {
public:
    Answer ask(QWidget*, const QString& question, bool) override {
        asked << question;
        if (answers.empty())
            return Answer::No;
        const Answer answer = answers.front();
        answers.pop_front();
        return answer;
    }
    std::deque<Answer> answers;
    QStringList asked;
};

inline QStringList column(const QTreeWidget* list, int c) {
    QStringList texts;
    for (int i = 0; i < list->topLevelItemCount(); ++i)
        texts << list->topLevelItem(i)->text(c);
    return texts;
}

template <class T = QWidget> T* child(const QWidget* window, const char* name) {
    T* widget = window->findChild<T*>(QLatin1String(name));
    EXPECT_NE(widget, nullptr) << name;
    return widget;
}

inline QString labelText(const QWidget* window, const char* name) {
    const QLabel* label = child<QLabel>(window, name);
    return label ? label->text() : QString();
}

} // namespace brumlis::test
