#include "brumlis/qtbridge/windowcommandline.h"

#include "brumlis/qtbridge/text.h"
#include "brumlis/sentence/datadir.h"
#include "version.h"

#include <QCommandLineParser>
#include <QDir>
#include <QFileInfo>
#include <cstdio>

namespace brumlis {

namespace {

void print(std::FILE* stream, const QString& text) {
    std::fputs(text.toUtf8().constData(), stream);
    std::fflush(stream);
}

struct Options {
    QCommandLineOption help{QStringList{QStringLiteral("h"), QStringLiteral("hjälp"),
                                        QStringLiteral("hjalp"), QStringLiteral("help")}};
    QCommandLineOption version{QStringLiteral("version")};
    QCommandLineOption data{QStringLiteral("data"), {}, QStringLiteral("MAPP")};

    explicit Options(QCommandLineParser& parser) {
        parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
        parser.addOptions({help, version, data});
    }
};

} // namespace

std::optional<int> WindowCommandLine::answerEarly(int argc, char* argv[]) const {
    // Qt's own options (-platform, -style, ...) are unknown here, which does not matter
    // yet: only whether --help or --version is there counts.
    QStringList arguments;
    for (int i = 0; i < argc; ++i)
        arguments << QString::fromLocal8Bit(argv[i]);
    QCommandLineParser parser;
    const Options options(parser);
    parser.parse(arguments);
    if (parser.isSet(options.help))
        print(stdout, usage());
    else if (parser.isSet(options.version))
        print(stdout, m_program + u' ' + QLatin1String(VersionRecord) + u'\n');
    else
        return std::nullopt;
    return 0;
}

std::optional<QString> WindowCommandLine::givenDataDir(const QStringList& arguments) const {
    QString given;
    if (const QString wrong = problem(arguments, &given); !wrong.isEmpty()) {
        print(stderr, m_program + QStringLiteral(": ") + wrong + u'\n');
        return std::nullopt;
    }
    return given;
}

QString WindowCommandLine::problem(const QStringList& arguments, QString* given) {
    QCommandLineParser parser;
    const Options options(parser);
    if (!parser.parse(arguments)) {
        if (const QStringList unknown = parser.unknownOptionNames(); !unknown.isEmpty())
            return QStringLiteral("okänd flagga: %1%2")
                .arg(unknown.first().size() == 1 ? u"-" : u"--", unknown.first());
        return QStringLiteral("--data kräver ett värde");
    }
    const QStringList positional = parser.positionalArguments();
    if (positional.size() + int(parser.isSet(options.data)) > 1)
        return QStringLiteral("ange bara en mapp");
    const QString folder = parser.isSet(options.data) ? parser.value(options.data)
                           : positional.isEmpty()     ? QString()
                                                      : positional.first();
    if (!folder.isEmpty() && !QFileInfo(folder).isDir())
        return QStringLiteral("mappen finns inte: %1").arg(folder);
    if (given)
        *given = folder;
    return {};
}

QString WindowCommandLine::usage() const {
    return QStringLiteral(
               "Användning: %1 [--data MAPP] [MAPP]\n"
               "\n"
               "%2\n"
               "\n"
               "  MAPP, --data MAPP  mappen som innehåller text/ och sound/; utan den den\n"
               "                     första av arbetskatalogen, ~/.local/share/brumlis och\n"
               "                     /usr/share/brumlis som innehåller text/\n"
               "  --hjälp, -h        visa den här hjälpen (också --hjalp)\n"
               "  --version          visa versionen\n"
               "\n"
               "Datamapp: %3\n")
        .arg(m_program, m_description, QDir::toNativeSeparators(qtPath(findDataDir())));
}

} // namespace brumlis
