#pragma once

#include "brumlis/sentence/fileresolver.h"
#include "brumlis/sentence/sentencebuffer.h"
#include "brumlis/sentence/wordlist.h"

#include <filesystem>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace brumlis {

class Clock;
struct ShapeBook;
struct ShapePart;
struct SentenceShape;
class MessageSink;
class RandomSource;

/// Composes random sentences into a SentenceBuffer: what the Generate button does
/// before the sentence is spoken. The windows and the CLI share it.
class SentenceComposer {
public:
    /// `dataDir` holds text/ (empty: the working directory at each pick). Without a
    /// clock the generator is never re-seeded, which makes seeded runs repeatable.
    SentenceComposer(std::filesystem::path dataDir, MessageSink& messages, RandomSource& random,
                     Clock* clock = nullptr);

    /// Re-seeds from the clock, empties slots 0..14, reads the folder's mallar.txt, draws
    /// a shape by weight (or takes shape number `forcedTemplate`) and fills its slots in
    /// order; without the file, from the eleven built-in templates. A faulty mallar.txt is
    /// reported once, and a failed pick leaves its slot empty; both go to the message sink.
    /// Returns true when the file was sound and every pick succeeded.
    bool compose(SentenceBuffer& buffer, int forcedTemplate = 0);

    /// Asked before every pick of compose(): once it says so, the slots left are left
    /// empty (a window closed while a message box waited, say).
    void setStopCheck(std::function<bool()> stopped) { m_stopped = std::move(stopped); }

    /// Reads text/<category>.txt afresh (by another case or Unicode form when the exact
    /// name is not there, as recordings are found) and leaves one item, each equally
    /// likely, in `buffer.PickedWord`. On failure the reason is reported once, PickedWord
    /// is emptied and false returned.
    bool PickWord(SentenceBuffer& buffer, std::u16string_view category);

    /// The recording of a picked word: "sound/" + word + ".wav", the word kept exactly.
    static std::u16string soundPathFor(std::u16string_view word);

private:
    struct Filler;

    const SentenceShape& drawShape(const ShapeBook& book);

    std::filesystem::path m_dataDir;
    MessageSink& m_messages;
    RandomSource& m_random;
    Clock* m_clock;
    std::function<bool()> m_stopped;
    FileResolver m_files;
    // Kept from pick to pick only for their storage: a large list read again then needs
    // no fresh memory. They never carry a list over; every pick reads its file.
    ListBuffers m_list;
    std::vector<ItemReader> m_marks;
};

} // namespace brumlis
