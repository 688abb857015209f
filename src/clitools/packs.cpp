#include "packs.h"

#include "brumlis/packs/packinstaller.h"
#include "brumlis/packs/packreader.h"
#include "brumlis/packs/packwriter.h"
#include "brumlis/qtbridge/text.h"
#include "brumlis/sentence/shapes.h"
#include "brumlis/text/swedish.h"
#include "brumlis/voicecheck/folderreport.h"
#include "output.h"
#include "qtcli.h"

#include <QDir>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QRegularExpression>
#include <QTemporaryDir>
#include <algorithm>

namespace brumlis {

namespace {

constexpr char kPackUsage[] =
    "Användning: brumlis-cli [--data MAPP] pack -o FIL.brumlis [--namn NAMN] [--talare NAMN]\n"
    "                        [--licens TEXT] [--språk KOD] [--ändå]\n"
    "\n"
    "Packar datamappens ordlistor (text/*.txt), inspelningar (sound/*.wav) och mallar.txt i en\n"
    "fil som kan skickas till andra och installeras med brumlis-cli install. Råa tagningar i\n"
    "tagningar/ stannar hemma. Samma mapp ger samma fil, byte för byte: paketets datum är den\n"
    "dag då den senast ändrade av filerna ändrades. En mapp där check hittar fel packas inte\n"
    "utan --ändå.\n"
    "\n"
    "  -o FIL          paketet som skrivs\n"
    "  --namn NAMN     röstens namn (standard: mappens namn)\n"
    "  --talare NAMN   den som talar\n"
    "  --licens TEXT   på vilka villkor rösten får användas\n"
    "  --språk KOD     ordens språk, som sv eller en-GB (standard: sv; också --sprak)\n"
    "  --ändå          packa också när ord inte kan sägas (också --anda)\n"
    "  --hjälp         visa den här hjälpen\n";

constexpr char kInstallUsage[] =
    "Användning: brumlis-cli install FIL.brumlis [--ersätt] [--ändå]\n"
    "\n"
    "Installerar rösten i FIL.brumlis för dig, i ~/.local/share/brumlis/packs/<namn>/, med en\n"
    "menypost \"Brumlis – <namn>\". Hela paketet granskas innan det installeras; ett paket\n"
    "som pekar ut ur sin mapp, innehåller länkar eller är för stort avvisas helt. Det uppackade\n"
    "granskas sedan som check granskar en mapp: en röst där en lista saknas eller ett ord inte\n"
    "kan sägas installeras inte utan --ändå, och den gamla rösten med samma namn står kvar.\n"
    "Skriver ut mappen.\n"
    "\n"
    "  --ersätt    ersätt en röst med samma namn (också --ersatt)\n"
    "  --ändå      installera också när check hittar fel i rösten (också --anda)\n"
    "  --hjälp     visa den här hjälpen\n";

constexpr char kPacksUsage[] =
    "Användning: brumlis-cli packs [--json]\n"
    "\n"
    "Visar de installerade rösterna: namn, talare, språk, antal ord och inspelningar, mapp.\n"
    "\n"
    "  --json    ett JSON-dokument i stället för en tabell\n"
    "  --hjälp   visa den här hjälpen\n";

constexpr char kUninstallUsage[] = "Användning: brumlis-cli uninstall NAMN\n"
                                   "\n"
                                   "Tar bort den installerade rösten NAMN och dess menypost.\n"
                                   "\n"
                                   "  --hjälp   visa den här hjälpen\n";

// The one positional argument a command takes, or the usage error's status.
std::optional<CliStatus> onePositional(const CommandLine& parser, CliContext& context,
                                       const QString& what, const char* usage, QString* value) {
    const QStringList positional = positionalOf(parser);
    if (positional.isEmpty())
        return reportUsageError(context, QStringLiteral("%1 saknas").arg(what),
                                QString::fromUtf8(usage));
    if (positional.size() > 1)
        return reportUsageError(context, QStringLiteral("oväntat argument: %1").arg(positional[1]),
                                QString::fromUtf8(usage));
    *value = positional.first();
    return std::nullopt;
}

void warn(CliContext& context, const char* command, const QStringList& warnings) {
    for (const QString& warning : warnings)
        write(context.err, QStringLiteral("%1: %2\n").arg(QLatin1String(command), warning));
}

QString summary(const PackManifest& manifest) {
    return QStringLiteral("%1 (%2 gjorda av voice)")
        .arg(packCounts(manifest))
        .arg(manifest.madeByVoice);
}

// The first of a voice's problems, each on a line of its own, and how many more there are.
constexpr int ProblemsShown = 5;
void tellProblems(CliContext& context, const char* command, const QStringList& problems) {
    for (const QString& line : qt(problemsMessage(core(problems), ProblemsShown)).split(u'\n'))
        write(context.err, QStringLiteral("%1: %2\n").arg(QLatin1String(command), line));
}

} // namespace

CliStatus runPack(const std::vector<std::u16string>& args, CliContext& context) {
    const QString usage = QString::fromUtf8(kPackUsage);
    CommandLine parser;
    const int output = parser.add({u"o"}, u"FIL");
    const int name = parser.add(optionNames({"namn", "name"}), u"NAMN");
    const int speaker = parser.add(optionNames({"talare", "speaker"}), u"NAMN");
    const int licence = parser.add(optionNames({"licens", "licence", "license"}), u"TEXT");
    const int language = parser.add(optionNames({"språk", "sprak", "language"}), u"KOD");
    const int anyway = addAnywayOption(parser);
    if (const auto done = parseCommandLine(parser, args, context, core(usage)))
        return *done;
    const QString packFile = valueOf(parser, output);
    if (packFile.isEmpty())
        return reportUsageError(context, QStringLiteral("-o FIL saknas"), usage);
    if (!isPackFileName(packFile))
        return reportUsageError(context, QStringLiteral("%1 slutar inte på .brumlis").arg(packFile),
                                usage);

    PackManifest manifest;
    manifest.name =
        parser.isSet(name) ? valueOf(parser, name) : QFileInfo(dataDirOf(context)).fileName();
    if (const QString wrong = packNameProblem(manifest.name); !wrong.isEmpty())
        return reportUsageError(
            context, QStringLiteral("röstens namn \"%1\" %2").arg(manifest.name, wrong), usage);
    manifest.speaker = valueOf(parser, speaker);
    manifest.licence = valueOf(parser, licence);
    if (parser.isSet(language)) {
        // A language tag: letters, digits and hyphens ("sv", "en-GB", "nds").
        static const QRegularExpression tag(QStringLiteral("^[A-Za-z]{2,8}(-[A-Za-z0-9]{1,8})*$"));
        if (!tag.match(valueOf(parser, language)).hasMatch())
            return reportUsageError(
                context, QStringLiteral("ogiltig språkkod: %1").arg(valueOf(parser, language)),
                usage);
        manifest.language = valueOf(parser, language);
    }

    const FolderReport report = inspectFolder(dataDirOf(context));
    const VoiceSummary voice = summarize(report);
    if (!report.speakable() && !parser.isSet(anyway)) {
        const auto silent = std::count_if(report.words.begin(), report.words.end(),
                                          [](const WordReport& w) { return !w.speakable(); });
        write(context.err,
              QStringLiteral("pack: check hittar fel i mappen (%1 kan inte sägas); brumlis-cli "
                             "check visar dem. Ge --ändå (--anda) för att packa ändå.\n")
                  .arg(qt(swedishCount(silent, u"ord", u"ord"))));
        return CliIncomplete;
    }
    const PackContents contents = packContents(dataDirOf(context));
    warn(context, "pack", contents.skipped);
    if (!contents.problem.isEmpty()) {
        write(context.err, QStringLiteral("pack: %1\n").arg(contents.problem));
        return CliIncomplete;
    }
    manifest.created = contents.newest;
    manifest.words = voice.words;
    manifest.recordings =
        std::count_if(contents.entries.begin(), contents.entries.end(), [](const PackEntry& e) {
            return e.name.startsWith(QStringLiteral("sound/"));
        });
    manifest.madeByVoice = voice.madeByVoice;

    if (const QString failed = writePack(packFile, manifest, contents.entries); !failed.isEmpty()) {
        write(context.err, QStringLiteral("pack: %1\n").arg(failed));
        return CliIncomplete;
    }
    write(context.out, QStringLiteral("Packade rösten \"%1\": %2, i %3\n")
                           .arg(manifest.name, summary(manifest), packFile));
    return CliOk;
}

CliStatus runInstall(const std::vector<std::u16string>& args, CliContext& context) {
    CommandLine parser;
    const int replace = parser.add(optionNames({"ersätt", "ersatt", "replace"}));
    const int anyway = addAnywayOption(parser);
    if (const auto done = parseCommandLine(parser, args, context, fromUtf8(kInstallUsage), true))
        return *done;
    QString packFile;
    if (const auto done =
            onePositional(parser, context, QStringLiteral("FIL.brumlis"), kInstallUsage, &packFile))
        return *done;

    InstallOptions options;
    options.replace = parser.isSet(replace);
    options.anyway = parser.isSet(anyway);
    const PackInstall installed = installPack(packFile, PackPlaces::forUser(), options);
    warn(context, "install", installed.warnings);
    if (installed.missing) {
        write(context.err, QStringLiteral("install: %1 finns inte\n").arg(packFile));
        return CliIncomplete;
    }
    if (!installed.ok()) {
        write(context.err,
              QStringLiteral("install: %1 installeras inte: %2\n").arg(packFile, installed.error));
        if (installed.refusedAsBroken) {
            tellProblems(context, "install", installed.problems);
            write(context.err, QStringLiteral("install: ge --ändå (--anda) för att installera "
                                              "den ändå\n"));
        }
        if (installed.refusedAsInstalled)
            write(context.err,
                  QStringLiteral("install: ge --ersätt (--ersatt) för att ersätta den\n"));
        return CliIncomplete;
    }
    // Installed anyway: what is wrong is still told.
    tellProblems(context, "install", installed.problems);
    write(context.out, installed.folder + u'\n');
    return CliOk;
}

CliStatus runPacks(const std::vector<std::u16string>& args, CliContext& context) {
    CommandLine parser;
    const int json = parser.add({u"json"});
    if (const auto done = parseCommandLine(parser, args, context, fromUtf8(kPacksUsage)))
        return *done;
    const std::vector<InstalledPack> packs = installedPacks(PackPlaces::forUser());
    if (parser.isSet(json)) {
        QJsonArray list;
        for (const InstalledPack& pack : packs)
            list.append(QJsonObject{{QStringLiteral("name"), pack.manifest.name},
                                    {QStringLiteral("speaker"), pack.manifest.speaker},
                                    {QStringLiteral("language"), pack.manifest.language},
                                    {QStringLiteral("licence"), pack.manifest.licence},
                                    {QStringLiteral("words"), pack.manifest.words},
                                    {QStringLiteral("recordings"), pack.manifest.recordings},
                                    {QStringLiteral("madeByVoice"), pack.manifest.madeByVoice},
                                    {QStringLiteral("folder"), pack.folder}});
        write(context.out, QByteArrayView(QJsonDocument(list).toJson(QJsonDocument::Indented)));
        return CliOk;
    }
    if (packs.empty()) {
        write(context.out, QStringLiteral("Inga röster är installerade.\n"));
        return CliOk;
    }
    const QStringList heading{QStringLiteral("namn"),         QStringLiteral("talare"),
                              QStringLiteral("språk"),        QStringLiteral("ord"),
                              QStringLiteral("inspelningar"), QStringLiteral("mapp")};
    std::vector<QStringList> rows{heading};
    for (const InstalledPack& pack : packs)
        rows.push_back({pack.manifest.name, pack.manifest.speaker, pack.manifest.language,
                        QString::number(pack.manifest.words),
                        QString::number(pack.manifest.recordings), pack.folder});
    QList<qsizetype> widths(heading.size() - 1, 0);
    for (const QStringList& row : rows)
        for (qsizetype i = 0; i < widths.size(); ++i)
            widths[i] = std::max(widths[i], row[i].size());
    for (const QStringList& row : rows) {
        QString line;
        for (qsizetype i = 0; i < widths.size(); ++i)
            line += row[i].leftJustified(widths[i] + 2);
        write(context.out, line + row.last() + u'\n');
    }
    return CliOk;
}

CliStatus runUninstall(const std::vector<std::u16string>& args, CliContext& context) {
    CommandLine parser;
    if (const auto done = parseCommandLine(parser, args, context, fromUtf8(kUninstallUsage), true))
        return *done;
    QString name;
    if (const auto done =
            onePositional(parser, context, QStringLiteral("NAMN"), kUninstallUsage, &name))
        return *done;
    if (const QString failed = uninstallPack(name, PackPlaces::forUser()); !failed.isEmpty()) {
        write(context.err, QStringLiteral("uninstall: %1\n").arg(failed));
        return CliIncomplete;
    }
    write(context.out, QStringLiteral("Tog bort rösten \"%1\".\n").arg(name));
    return CliOk;
}

std::optional<CliStatus> checkPackFile(const std::vector<std::u16string>& args, CliContext& context,
                                       CliCommandFunction check) {
    const auto named = std::find_if(args.begin(), args.end(), [](const std::u16string& arg) {
        return !arg.starts_with(u'-') && isPackFileName(qt(arg));
    });
    if (named == args.end())
        return std::nullopt;
    const QString packFile = qt(*named);
    std::vector<std::u16string> rest = args;
    rest.erase(rest.begin() + (named - args.begin()));

    const QTemporaryDir folder;
    if (!folder.isValid()) {
        write(context.err, QStringLiteral("check: kan inte skapa en tillfällig mapp\n"));
        return CliIncomplete;
    }
    const PackReading reading = unpackPack(packFile, folder.path());
    warn(context, "check", reading.warnings);
    if (reading.missing) {
        write(context.err, QStringLiteral("check: %1 finns inte\n").arg(packFile));
        return CliIncomplete;
    }
    if (!reading.ok()) {
        write(context.err, QStringLiteral("check: %1 avvisas: %2\n").arg(packFile, reading.error));
        return CliIncomplete;
    }
    // What it holds, counted in its files: a manifest need not say, nor say right.
    PackManifest m = reading.manifest;
    const VoiceSummary voice = summarize(inspectFolder(folder.path()));
    m.words = voice.words;
    m.recordings = voice.recordings;
    m.madeByVoice = voice.madeByVoice;
    if (std::find(rest.begin(), rest.end(), u"--json") == rest.end())
        write(context.out,
              QStringLiteral("Rösten \"%1\" i %2: talare %3, licens %4, språk %5, "
                             "gjord %6; %7\n\n")
                  .arg(m.name, packFile, m.speaker.isEmpty() ? QStringLiteral("okänd") : m.speaker,
                       m.licence.isEmpty() ? QStringLiteral("okänd") : m.licence, m.language,
                       m.created.toString(Qt::ISODate), summary(m)));
    CliContext unpacked{context.out, context.err, corePath(folder.path()), context.players};
    return check(rest, unpacked);
}

} // namespace brumlis
