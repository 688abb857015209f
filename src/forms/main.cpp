#include "brumlis/forms/brumform.h"
#include "brumlis/linuxaudio/playerfactory.h"
#include "brumlis/playback/lazyplayer.h"
#include "brumlis/playback/soundplayer.h"
#include "brumlis/qtbridge/text.h"
#include "brumlis/qtbridge/windowcommandline.h"
#include "brumlis/sentence/datadir.h"
#include "looks.h"
#include "packopen.h"
#include "version.h"

#include <QApplication>
#include <QSocketNotifier>
#include <QTimer>
#include <csignal>
#include <cstdio>
#include <functional>
#include <optional>
#include <sys/socket.h>
#include <unistd.h>
#include <utility>

namespace {

// SIGTERM and SIGINT close the window as its close box does, so a session that ends or a
// Ctrl+C in a terminal stop a sentence and end the program the same orderly way. The
// handler only writes to a socket pair; the window closes in the event loop.
int g_signalFds[2] = {-1, -1};

void forwardSignal(int signal) {
    const char byte = char(signal);
    [[maybe_unused]] const ssize_t n = ::write(g_signalFds[1], &byte, 1);
}

void watchSignals(QWidget& window) {
    if (::socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, g_signalFds) != 0)
        return;
    auto* notifier = new QSocketNotifier(g_signalFds[0], QSocketNotifier::Read, &window);
    QObject::connect(notifier, &QSocketNotifier::activated, &window, [&window] {
        char byte = 0;
        if (::read(g_signalFds[0], &byte, 1) == 1)
            window.close();
    });
    struct sigaction action {};
    action.sa_handler = &forwardSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    ::sigaction(SIGTERM, &action, nullptr);
    ::sigaction(SIGINT, &action, nullptr);
}

// Once the window has drawn itself, `then` runs from the event loop (after the drawing has
// gone to the screen).
class AfterFirstPaint final : public QObject {
public:
    AfterFirstPaint(QWidget& window, std::function<void()> then)
        : QObject(&window)
        , m_then(std::move(then)) {
        window.installEventFilter(this);
    }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override {
        if (event->type() == QEvent::Paint && m_then) {
            watched->removeEventFilter(this);
            QTimer::singleShot(0, this, std::exchange(m_then, nullptr));
        }
        return false;
    }

private:
    std::function<void()> m_then;
};

} // namespace

int main(int argc, char* argv[]) {
    const brumlis::WindowCommandLine commandLine(
        QStringLiteral("brumlis"),
        QStringLiteral("Slumpar fram svenska meningar och läser upp dem.\n"
                       "Med en röst i en .brumlis-fil som argument: installerar den och läser\n"
                       "upp med den."));
    if (const std::optional<int> answered = commandLine.answerEarly(argc, argv))
        return *answered;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("brumlis"));
    QApplication::setApplicationVersion(QLatin1String(brumlis::VersionRecord));
    QGuiApplication::setDesktopFileName(QStringLiteral("se.brumlis.brumlis"));
    QApplication::setWindowIcon(brumlis::brumlisIcon());

    // A pack file (a double click on one) is offered for installing, and spoken with.
    QStringList arguments = QCoreApplication::arguments();
    const std::optional<QString> pack = brumlis::takePackFile(arguments);
    const std::optional<QString> given = commandLine.givenDataDir(arguments);
    if (!given)
        return 2;
    QString dataDir;
    if (pack) {
        const brumlis::PackOffer offer = brumlis::offerPack(*pack);
        if (!offer.folder)
            return offer.status;
        dataDir = *offer.folder;
    } else {
        dataDir = brumlis::qtPath(brumlis::findDataDir(brumlis::corePath(*given)));
    }

    int code = 0;
    {
        // The sound server is connected to once the window is on the screen (or at the
        // first Generera, if that comes first), and the device opens on the engine's own
        // thread: neither holds up the window.
        auto player = std::make_unique<brumlis::LazyPlayer>(
            [dir = brumlis::corePath(dataDir)] { return brumlis::createSystemPlayer(dir); });
        brumlis::LazyPlayer& sound = *player;
        brumlis::Brumform window(std::move(player), dataDir);
        new AfterFirstPaint(window, [&sound] { sound.start(); });

        watchSignals(window);

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
