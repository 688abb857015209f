#pragma once

#include <array>
#include <string>

namespace brumlis {

/// A fixed row of string slots whose every access is bounds-checked:
/// an index outside 0..Size-1 throws std::out_of_range.
template <int Size> class SlotArray {
public:
    static constexpr int size() { return Size; }

    std::u16string& operator()(int i) { return m_slots.at(checked(i)); }
    const std::u16string& operator()(int i) const { return m_slots.at(checked(i)); }

private:
    static std::size_t checked(int i) {
        // A negative index must not wrap around into a valid unsigned one.
        return i < 0 ? std::size_t(Size) : std::size_t(i);
    }

    std::array<std::u16string, Size> m_slots;
};

/// One sentence, from composing to speaking, kept afterwards for Repeat.
/// A slot pairs the text shown with the path of the recording played for it.
struct SentenceBuffer {
    static constexpr int SlotCount = 21;
    /// Slots 0..14 are cleared by Generate and walked by speaking; 15..20 are never written.
    static constexpr int SpokenSlots = 15;

    int TemplateNo = 0; ///< The shape's number after the first Generate, 0 before.
    int SlotsUsed = 0;  ///< Slots the shape filled, from 0 up.
    SlotArray<SlotCount> SoundFile;
    SlotArray<SlotCount> WordText;
    std::u16string PickedWord; ///< The item read by the last pick; empty after a failed one.
};

} // namespace brumlis
