#include "brumlis/linuxaudio/playerfactory.h"
#include "brumlis/playback/soundplayer.h"
#include "cli.h"
#include "qtcli.h"

#include <QCoreApplication>
#include <csignal>
#include <cstdio>
#include <unistd.h>

int main(int argc, char* argv[]) {
    // A reader that goes away (generate | head -n 1) makes the next write fail with EPIPE,
    // which ends the run with its status and one line, instead of killing it unannounced.
    std::signal(SIGPIPE, SIG_IGN);
    int status = 0;
    {
        QCoreApplication app(argc, argv);
        QStringList args = QCoreApplication::arguments();
        args.removeFirst();
        status = brumlis::runCli(args, stdout, stderr, [](const std::filesystem::path& dataDir) {
            return brumlis::createSystemPlayer(dataDir);
        });
    }
    // A sound server that stopped answering holds a thread of ours; everything is
    // written, so the process ends without waiting for it, as the window does.
    if (brumlis::soundAbandoned()) {
        std::fflush(nullptr);
        ::_exit(status);
    }
    return status;
}
