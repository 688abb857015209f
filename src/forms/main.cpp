#include "brumlis/forms/brumform.h"
#include "brumlis/playback/playerfactory.h"
#include "brumlis/playback/soundplayer.h"
#include "brumlis/sentence/datadir.h"
#include "looks.h"
#include "version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QEvent>
#include <QFileInfo>
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

// The options of the window program. Qt's own (-platform, -style, ...) are taken out of
// argv by QApplication before the second, strict parse.
struct Options {
    QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")}};
    QCommandLineOption version{QStringLiteral("version")};
    QCommandLineOption data{QStringLiteral("data"), {}, QStringLiteral("MAPP")};

    void addTo(QCommandLineParser& parser) const {
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOptions({help, version, data});
    }
};

void print(std::FILE* stream, const QString& text) {
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

QString usage() {
    return QStringLiteral(
               "Användning: brumlis [--data MAPP] [MAPP]\n"
               "\n"
               "Slumpar fram svenska meningar och läser upp dem.\n"
               "\n"
               "  MAPP, --data MAPP  mappen som innehåller text/ och sound/; utan den den\n"
               "                     första av arbetskatalogen, ~/.local/share/brumlis och\n"
               "                     /usr/share/brumlis som innehåller text/\n"
               "  --help             visa den här hjälpen\n"
               "  --version          visa versionen\n"
               "\n"
               "Datamapp: %1\n")
        .arg(QDir::toNativeSeparators(brumlis::findDataDir()));
}

// Reports a bad command line on stderr; returns the folder given, or nothing.
std::optional<QString> givenDataDir(const QCommandLineParser& parser, bool parsed,
                                    const Options& options) {
    auto fail = [](const QString& reason) {
        print(stderr, QStringLiteral("brumlis: %1\n").arg(reason));
        return std::nullopt;
    };
    if (!parsed) {
        if (const QStringList unknown = parser.unknownOptionNames(); !unknown.isEmpty())
            return fail(QStringLiteral("okänd flagga: %1%2")
                            .arg(unknown.first().size() == 1 ? u"-" : u"--", unknown.first()));
        return fail(QStringLiteral("--data kräver ett värde"));
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() + int(parser.isSet(options.data)) > 1)
        return fail(QStringLiteral("ange bara en mapp"));
    const QString given = parser.isSet(options.data) ? parser.value(options.data)
                          : positional.isEmpty()     ? QString()
                                                     : positional.first();
    if (!given.isEmpty() && !QFileInfo(given).isDir())
        return fail(QStringLiteral("mappen finns inte: %1").arg(given));
    return given;
}

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
    const Options options;
    {
        // --help and --version answer before QApplication exists, so they work without
        // a display. Qt's own options are unknown here, which does not matter yet.
        QStringList args;
        for (int i = 0; i < argc; ++i)
            args << QString::fromLocal8Bit(argv[i]);
        QCommandLineParser early;
        options.addTo(early);
        early.parse(args);
        if (early.isSet(options.help)) {
            print(stdout, usage());
            return 0;
        }
        if (early.isSet(options.version)) {
            print(stdout,
                  QStringLiteral("brumlis %1\n").arg(QLatin1String(brumlis::VersionRecord)));
            return 0;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("brumlis"));
    QApplication::setApplicationVersion(QLatin1String(brumlis::VersionRecord));
    QGuiApplication::setDesktopFileName(QStringLiteral("se.brumlis.brumlis"));
    QApplication::setWindowIcon(brumlis::brumlisIcon());

    QCommandLineParser parser;
    options.addTo(parser);
    const bool parsed = parser.parse(QCoreApplication::arguments());
    const std::optional<QString> given = givenDataDir(parser, parsed, options);
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
