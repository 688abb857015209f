#include "toolcommand.h"

#include "check.h"
#include "render.h"
#include "voice.h"

#include <QFileInfo>
#include <cstring>

namespace brumlis {

bool isToolCommand(const QString& command) {
    return command == u"check" || command == u"voice" || command == u"render";
}

int runToolCommand(const QString& command, const QString& dataDir, const QStringList& args,
                   std::FILE* out, std::FILE* err) {
    Output output(out);
    Output errors(err);
    try {
        if (!dataDir.isEmpty() && !QFileInfo(dataDir).isDir()) {
            errors.write(QStringLiteral("brumlis-cli: mappen finns inte: %1\n").arg(dataDir));
            return 2;
        }
        if (command == u"check")
            return runCheck(dataDir, args, output, errors);
        if (command == u"voice")
            return runVoice(dataDir, args, output, errors);
        return runRender(dataDir, args, output, errors);
    } catch (const WriteFailed& failed) {
        // stderr may be what failed; one attempt, unchecked, is all that is left.
        std::fprintf(err, "brumlis-cli: kan inte skriva: %s\n", std::strerror(failed.error));
        return 1;
    }
}

int usageError(const QString& command, const QString& reason, const char* usage, Output& err) {
    err.write(QStringLiteral("brumlis-cli %1: %2\n\n").arg(command, reason) +
              QString::fromUtf8(usage));
    return 2;
}

std::optional<int> parseToolOptions(QCommandLineParser& parser, const QString& command,
                                    const QStringList& args, const char* usage, Output& out,
                                    Output& err) {
    const QCommandLineOption help(QStringList{QStringLiteral("h"), QStringLiteral("help")});
    parser.addOption(help);
    parser.setSingleDashWordOptionMode(QCommandLineParser::ParseAsLongOptions);
    if (!parser.parse(QStringList{QStringLiteral("brumlis-cli")} + args)) {
        // Qt's own error texts are English; the option they name is quoted in them.
        const QString text = parser.errorText();
        const qsizetype open = text.indexOf(u'\'');
        QString name = open >= 0 ? text.sliced(open + 1).section(u'\'', 0, 0) : QString();
        if (!name.startsWith(u'-'))
            name.prepend(name.size() == 1 ? QStringLiteral("-") : QStringLiteral("--"));
        QString reason = QStringLiteral("okänd flagga: %1").arg(name);
        if (parser.unknownOptionNames().isEmpty())
            reason = text.startsWith(u"Missing") ? QStringLiteral("%1 kräver ett värde").arg(name)
                                                 : QStringLiteral("%1 tar inget värde").arg(name);
        return usageError(command, reason, usage, err);
    }
    if (parser.isSet(help)) {
        out.write(QString::fromUtf8(usage));
        return 0;
    }
    if (!parser.positionalArguments().isEmpty())
        return usageError(
            command,
            QStringLiteral("oväntat argument: %1").arg(parser.positionalArguments().constFirst()),
            usage, err);
    return std::nullopt;
}

} // namespace brumlis
