#pragma once

#include <QRect>
#include <QSize>

namespace brumlis::layout {

// The main window's size and where its sentence and buttons stand, in pixels at 96 dpi (Qt
// scales them on denser screens). Here rather than in the form alone, because what drives
// the real window from outside, as a person would, has to know where to click and look.
inline constexpr QSize MainWindow{419, 190};
inline constexpr QRect SentenceLabel{128, 64, 281, 89};
inline constexpr QRect RepeatButton{128, 160, 89, 22};
inline constexpr QRect GenerateButton{224, 160, 89, 22};
inline constexpr QRect AboutButton{320, 160, 89, 22};

} // namespace brumlis::layout
