#include "forms/brumform.h"
#include "forms/looks.h"
#include "playback/playerfactory.h"
#include "playback/soundplayer.h"

#include <QApplication>
#include <QDir>
#include <QEvent>
#include <cstdio>

namespace {

// Start-up benchmark hook: with BRUMLIS_BENCH_READY set in the environment, the program
// prints "ready" on stdout once the main window has painted for the first time. Nothing
// else changes; bench-forms starts the program and times how long that line takes.
class FirstPaintReporter final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint) {
            watched->removeEventFilter(this);
            // Queued, so it is printed once this paint has been done.
            QMetaObject::invokeMethod(
                this,
                [] {
                    std::fputs("ready\n", stdout);
                    std::fflush(stdout);
                },
                Qt::QueuedConnection);
        }
        return false;
    }
};

} // namespace

int main(int argc, char* argv[]) {
    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("brumlis"));
    QApplication::setApplicationVersion(QStringLiteral("1.00.0007"));
    QGuiApplication::setDesktopFileName(QStringLiteral("brumlis"));
    QApplication::setWindowIcon(brumlis::brumlisIcon());

    // The audio engine opens its device off the start-up path, so this does not hold
    // up the window.
    brumlis::Brumform window(brumlis::createSystemPlayer(QDir::currentPath()));

    FirstPaintReporter reporter;
    if (qEnvironmentVariableIsSet("BRUMLIS_BENCH_READY"))
        window.installEventFilter(&reporter);

    window.show();
    return app.exec();
}
