#include "brumlis/linuxaudio/playerfactory.h"
#include "brumlis/linuxaudio/soundinput.h"
#include "brumlis/playback/soundplayer.h"
#include "brumlis/qtbridge/text.h"
#include "brumlis/qtbridge/windowcommandline.h"
#include "brumlis/sentence/datadir.h"
#include "brumlis/studio/studiowindow.h"
#include "version.h"

#include <QApplication>
#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[]) {
    const brumlis::WindowCommandLine commandLine(
        QStringLiteral("brumlis-studio"),
        QStringLiteral("Spela in din egen röst till Brumlis: ett ord i taget, trimmat, med samma\n"
                       "ljudstyrka som resten av rösten och sparat under det namn Brumlis letar "
                       "efter."));
    if (const std::optional<int> answered = commandLine.answerEarly(argc, argv))
        return *answered;

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("brumlis-studio"));
    QApplication::setApplicationVersion(QLatin1String(brumlis::VersionRecord));
    QGuiApplication::setDesktopFileName(QStringLiteral("se.brumlis.studio"));
    QApplication::setWindowIcon(brumlis::studioIcon());

    const std::optional<QString> given = commandLine.givenDataDir(QCoreApplication::arguments());
    if (!given)
        return 2;
    const QString dataDir = brumlis::qtPath(brumlis::findDataDir(brumlis::corePath(*given)));
    int code = 0;
    {
        // Everything the studio plays goes through the engine Brumlis speaks through, which
        // opens its device off the start-up path; it records and plays on one connection to
        // the sound server, which comes back by itself after the server restarts.
        const auto server = brumlis::makeSoundServerConnection(
            {"Brumlis studio", "se.brumlis.studio", "brumlis-studio"});
        brumlis::StudioWindow window(
            brumlis::makeSoundInput(server), dataDir, {},
            brumlis::createSystemPlayer(brumlis::corePath(dataDir), server));
        window.show();
        code = app.exec();
    }
    // A sound server that stopped answering holds a thread of the engine's; the window is
    // gone and everything is saved, so the process ends without waiting for it.
    if (brumlis::soundAbandoned()) {
        std::fflush(nullptr);
        ::_exit(code);
    }
    return code;
}
