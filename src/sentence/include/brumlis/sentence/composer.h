#pragma once

#include "brumlis/sentence/sentencebuffer.h"
#include "brumlis/sentence/wordlist.h"

#include <QString>
#include <QStringView>
#include <functional>
#include <vector>

namespace brumlis {

class Clock;
class MessageSink;
class RandomSource;

/// Composes random sentences into a SentenceBuffer: what the Generate button does
/// before the sentence is spoken. The windows and the CLI share it.
class SentenceComposer {
public:
    /// `dataDir` holds text/ (empty: the working directory at each pick). Without a
    /// clock the generator is never re-seeded, which makes seeded runs repeatable.
    SentenceComposer(QString dataDir, MessageSink& messages, RandomSource& random,
                     Clock* clock = nullptr);

    /// Re-seeds from the clock, empties slots 0..14, draws a template (or takes
    /// `forcedTemplate`, 1..11) and fills its slots in order. A failed pick is reported
    /// through the message sink and leaves its slot empty. Returns true when every pick
    /// succeeded.
    bool compose(SentenceBuffer& buffer, int forcedTemplate = 0);

    /// Asked before every pick of compose(): once it says so, the slots left are left
    /// empty (a window closed while a message box waited, say).
    void setStopCheck(std::function<bool()> stopped) { m_stopped = std::move(stopped); }

    /// Reads text/<category>.txt afresh and leaves one item, each equally likely, in
    /// `buffer.PickedWord`. On failure the reason is reported once, PickedWord is
    /// emptied and false returned.
    bool PickWord(SentenceBuffer& buffer, QStringView category);

    /// The recording of a picked word: "sound/" + word + ".wav", the word kept exactly.
    static QString soundPathFor(const QString& word);

private:
    QString m_dataDir;
    MessageSink& m_messages;
    RandomSource& m_random;
    Clock* m_clock;
    std::function<bool()> m_stopped;
    // Kept from pick to pick only for their storage: a large list read again then needs
    // no fresh memory. They never carry a list over; every pick reads its file.
    ListBuffers m_list;
    std::vector<ItemReader> m_marks;
};

} // namespace brumlis
