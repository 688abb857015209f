#pragma once

#include "brumlis/soundfiles/wavfile.h"
#include "brumlis/studio/studiosession.h"
#include "support/speechclip.h"
#include "support/tempdir.h"

#include <QSignalSpy>
#include <deque>
#include <functional>
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
    Answer ask(const QString& question, bool) override {
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

/// Runs the event loop until `done`, looking again each time `sender` emits `signal`;
/// false when it stays silent for 10 s first.
template <class Sender, class Signal>
bool waitUntil(const Sender* sender, Signal signal, const std::function<bool()>& done) {
    QSignalSpy spy(sender, signal);
    while (!done())
        if (!spy.wait(10000))
            return false;
    return true;
}

/// Where `word` is in the session's queue; -1 when it is not there.
inline int indexOf(const StudioSession& session, const QString& word) {
    const auto& entries = session.queue().entries();
    for (std::size_t i = 0; i < entries.size(); ++i)
        if (entries[i].word.text == word)
            return int(i);
    return -1;
}

} // namespace brumlis::test
