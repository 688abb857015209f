#pragma once

#include <QString>

namespace brumlis {

struct SentenceBuffer;
class SoundPlayer;

/// What speaking a sentence drives: the sentence label and the two buttons that are
/// enabled again at the end. The main window implements it; the CLI and tests do too.
class SentenceView {
public:
    virtual ~SentenceView() = default;

    virtual QString caption() const = 0;
    /// Sets the label's caption and puts it on screen at once.
    virtual void showCaption(const QString& caption) = 0;
    virtual void setRepeatEnabled(bool enabled) = 0;
    virtual void setGenerateEnabled(bool enabled) = 0;
    virtual void focusGenerate() = 0;
    /// True once the view is going away (window closed): speaking stops at once.
    virtual bool speakingAborted() const { return false; }
};

/// Shows slots 0..14 one by one, each text followed by a blank and on screen just before its
/// recording starts (the player says when), plays each slot's recording, waits until the
/// sentence has been heard,
/// then enables Repeat and Generate and focuses Generate. Returns false when it was
/// aborted, in which case the buttons are left alone.
bool SpeakSentence(const SentenceBuffer& buffer, SentenceView& view, SoundPlayer& player);

} // namespace brumlis
