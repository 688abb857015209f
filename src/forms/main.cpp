#include "brumlis/forms/brumform.h"
#include "brumlis/playback/playerfactory.h"
#include "brumlis/playback/soundplayer.h"
#include "brumlis/sentence/datadir.h"
#include "looks.h"
#include "version.h"

#include <QApplication>
#include <QEvent>
#include <QPushButton>
#include <QSocketNotifier>
#include <csignal>
#include <cstdio>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>

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

// SIGTERM and SIGINT close the window as its close box does, so a session that ends or a
// Ctrl+C in a terminal stop a sentence and end the program the same orderly way. With
// BRUMLIS_BENCH_READY set, SIGUSR1 presses Generera (bench-playback speaks through the
// real window that way). The handler only writes the signal's number to a socket pair.
int g_signalFds[2] = {-1, -1};

void forwardSignal(int signal) {
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalFds[1], &byte, 1);
}

void watchSignals(QWidget& window, bool benchHooks) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalFds) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalFds[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte = 0;
        if (::read(g_signalFds[0], &byte, 1) != 1)
            return;
        if (byte == SIGUSR1) {
            if (auto* generate = window.findChild<QPushButton*>(QStringLiteral("Command1")))
                generate->click();
        } else {
            window.close();
        }
    });
    struct sigaction action {};
    action.sa_handler = &forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
    if (benchHooks)
        ::sigaction(SIGUSR1, &action, nullptr);
}

} // namespace

int main(int argc, char* argv[]) {
    const brumlis::WindowCommandLine commandLine(
        QStringLiteral("brumlis"),
        QStringLiteral("Slumpar fram svenska meningar och läser upp dem."));
    if (const std::optional<int> answered = commandLine.answerEarly(argc, argv))
        return *answered;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("brumlis"));
    QApplication::setApplicationVersion(QLatin1String(brumlis::VersionRecord));
    QGuiApplication::setDesktopFileName(QStringLiteral("se.brumlis.brumlis"));
    QApplication::setWindowIcon(brumlis::brumlisIcon());

    const std::optional<QString> given = commandLine.givenDataDir(QCoreApplication::arguments());
    if (!given)
        return 2;
    const QString dataDir = brumlis::findDataDir(*given);

    int code = 0;
    {
        // The audio engine opens its device off the start-up path, so this does not hold
        // up the window.
        brumlis::Brumform window(brumlis::createSystemPlayer(dataDir), dataDir);

        const bool benchHooks = qEnvironmentVariableIsSet("BRUMLIS_BENCH_READY");
        FirstPaintReporter reporter;
        if (benchHooks)
            window.installEventFilter(&reporter);
        watchSignals(window, benchHooks);

        window.show();
        code = app.exec();
    }
    // A sound server that stopped answering holds a thread of ours; the window is gone
    // and everything is written, so the process ends without waiting for it.
    if (brumlis::soundAbandoned()) {
        std::fflush(nullptr);
        ::_exit(code);
    }
    return code;
}
