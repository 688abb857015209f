#include "cli.h"
#include "playback/playerfactory.h"
#include "playback/soundplayer.h"

#include <QCoreApplication>

int main(int argc, char* argv[]) {
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    return brumlis::runCli(args, stdout, stderr, brumlis::createSystemPlayer);
}
