#pragma once

#include <QStringView>
#include <array>

namespace brumlis {

/// One slot of a template: a fixed phrase with its own recording, or a word class
/// whose list supplies a fresh word every time the slot is filled.
struct TemplateSlot {
    QStringView text;  ///< the phrase as shown, or the name of the word class
    QStringView sound; ///< the phrase's recording; empty for a word class

    constexpr bool isPhrase() const { return !sound.isEmpty(); }
};

struct SentenceTemplate {
    int slotCount;
    std::array<TemplateSlot, 8> slots;
};

inline constexpr int TemplateCount = 11;

/// The eleven sentence templates; template number k is `Templates[k - 1]`.
extern const std::array<SentenceTemplate, TemplateCount> Templates;

/// The eight fixed phrases, each with its recording.
extern const std::array<TemplateSlot, 8> FixedPhrases;

/// The eleven word classes, each read from text/<class>.txt.
extern const std::array<QStringView, 11> WordClasses;

} // namespace brumlis
