#pragma once

#include "brumlis/audio/clipstream.h"
#include "brumlis/sentence/fileresolver.h"
#include "brumlis/sentence/sentencebuffer.h"

#include <QByteArray>
#include <QString>
#include <QStringList>

namespace brumlis {

/// A sentence as one WAV file.
struct RenderedSentence {
    QByteArray wav;         ///< 16-bit PCM; empty when libsndfile could not encode the sound
    QStringList unplayable; ///< texts of the slots whose recording was missing or would not play
};

/// Makes one sound of a sentence: the recording of each slot converted to one format, the
/// way the program converts it before playing it (faded in and out, so joins do not click),
/// and the clips joined with no silence in between.
class SentenceRenderer {
public:
    /// Recordings are looked up in the data folder at `dataDir` (empty: the working
    /// directory) as the program looks them up, and become 16-bit samples at `rate` with
    /// `channels` channels.
    SentenceRenderer(const QString& dataDir, int rate, int channels);

    /// The slots of `buffer`'s template, in order. A slot left empty by a failed pick is
    /// passed over; so is a recording that is missing or will not play, which is named in
    /// `unplayable`.
    RenderedSentence render(const SentenceBuffer& buffer) const;

private:
    FileResolver m_resolver;
    DeviceFormat m_format;
};

} // namespace brumlis
