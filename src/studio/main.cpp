#include "brumlis/playback/playerfactory.h"
#include "brumlis/playback/soundplayer.h"
#include "brumlis/sentence/datadir.h"
#include "brumlis/studio/pulseconnection.h"
#include "brumlis/studio/studiowindow.h"
#include "version.h"

#include <QApplication>
#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <cstdio>
#include <unistd.h>

namespace {

void print(std::FILE* stream, const QString& text) {
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

QString usage() {
    return QStringLiteral(
               "Användning: brumlis-studio [--data MAPP] [MAPP]\n"
               "\n"
               "Spela in din egen röst till Brumlis: ett ord i taget, trimmat, med samma\n"
               "ljudstyrka som resten av rösten och sparat under det namn Brumlis letar efter.\n"
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

struct Options {
    QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("help")}};
    QCommandLineOption version{QStringLiteral("version")};
    QCommandLineOption data{QStringLiteral("data"), {}, QStringLiteral("MAPP")};

    void addTo(QCommandLineParser& parser) const {
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOptions({help, version, data});
    }
};

} // namespace

int main(int argc, char* argv[]) {
    const Options options;
    {
        // --help and --version answer before QApplication exists: no display needed.
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
                  QStringLiteral("brumlis-studio %1\n").arg(QLatin1String(brumlis::VersionRecord)));
            return 0;
        }
    }

    QApplication app(argc, argv);
    QApplication::setApplicationName(QStringLiteral("brumlis-studio"));
    QApplication::setApplicationVersion(QLatin1String(brumlis::VersionRecord));
    QGuiApplication::setDesktopFileName(QStringLiteral("se.brumlis.studio"));
    QApplication::setWindowIcon(brumlis::studioIcon());

    QCommandLineParser parser;
    options.addTo(parser);
    if (!parser.parse(QCoreApplication::arguments())) {
        const QStringList unknown = parser.unknownOptionNames();
        print(stderr, unknown.isEmpty()
                          ? QStringLiteral("brumlis-studio: --data kräver ett värde\n")
                          : QStringLiteral("brumlis-studio: okänd flagga: %1%2\n")
                                .arg(unknown.first().size() == 1 ? u"-" : u"--", unknown.first()));
        return 2;
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() + int(parser.isSet(options.data)) > 1) {
        print(stderr, QStringLiteral("brumlis-studio: ange bara en mapp\n"));
        return 2;
    }
    const QString given = parser.isSet(options.data) ? parser.value(options.data)
                          : positional.isEmpty()     ? QString()
                                                     : positional.first();
    if (!given.isEmpty() && !QFileInfo(given).isDir()) {
        print(stderr, QStringLiteral("brumlis-studio: mappen finns inte: %1\n").arg(given));
        return 2;
    }

    const QString dataDir = brumlis::findDataDir(given);
    int code = 0;
    {
        // Prova speaks through the engine Brumlis speaks through; it opens its device off
        // the start-up path.
        brumlis::StudioWindow window(std::make_unique<brumlis::PulseConnection>(), dataDir, {},
                                     brumlis::createSystemPlayer(dataDir));
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
