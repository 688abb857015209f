#include "cli.h"

#include "playback/soundplayer.h"

#include <QCoreApplication>

int main(int argc, char* argv[])
{
    QCoreApplication app(argc, argv);
    QStringList args = QCoreApplication::arguments();
    args.removeFirst();
    return brumlis::runCli(args, stdout, stderr, [](const QString&) {
        return std::make_unique<brumlis::SilentPlayer>();
    });
}
