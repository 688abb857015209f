#pragma once

#include "support/eventwait.h"

#include <QApplication>
#include <QWidget>
#include <QWindow>

// Windows as a person or a screen reader finds them, and waits on what they show. For tests
// and benchmarks that link QtWidgets; the rest of the kit needs only QtCore.
namespace brumlis::test {

/// The top-level widget named `name` (an About window, say): null when there is none.
inline QWidget* topLevelNamed(const char* name) {
    for (QWidget* w : QApplication::topLevelWidgets())
        if (w->objectName() == QLatin1String(name))
            return w;
    return nullptr;
}

/// Until `window` is the active window, for at most `ms`: it hears its activation.
inline bool untilActive(QWidget* window, int ms = 10000) {
    return untilSeen(
        {window}, [window] { return window->isActiveWindow(); }, ms);
}

/// Until `window` is on screen (exposed), for at most `ms`: its platform window hears the
/// expose, the widget its first paint.
inline bool untilExposed(QWidget* window, int ms = 10000) {
    const auto exposed = [window] {
        return window->windowHandle() && window->windowHandle()->isExposed();
    };
    return untilSeen({window, window->windowHandle()}, exposed, ms);
}

} // namespace brumlis::test
