#include "check.h"

#include "brumlis/qtbridge/text.h"
#include "brumlis/text/swedish.h"
#include "brumlis/voicecheck/folderreport.h"
#include "packs.h"
#include "qtcli.h"

#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace brumlis {

namespace {

constexpr char kCheckUsage[] =
    "Användning: brumlis-cli [--data MAPP] check [--json] [FIL.brumlis]\n"
    "\n"
    "Går igenom mallar.txt, ordlistorna i text/ och inspelningarna i sound/ så som programmet\n"
    "läser dem: mallarnas rader som inte kan läsas, klasser utan lista, fraser utan inspelning\n"
    "och listor som ingen mall använder; listornas kodning, radslut, tomma poster och\n"
    "dubbletter; vilken inspelning varje ord och fast fras spelar, hur den hittas och om voice\n"
    "gjorde den; varje inspelnings längd, toppnivå, ljudstyrka (EBU R128) och tystnad före\n"
    "och efter; inspelningar som inget ord använder. Råa tagningar i tagningar/ räknas inte.\n"
    "Slutstatus 0 när varje mall kan läsas och varje ord kan sägas, 1 när något saknas eller\n"
    "är trasigt.\n"
    "Med FIL.brumlis granskas paketet i stället, utan att installeras.\n"
    "\n"
    "  --json    ett JSON-dokument i stället för tabeller\n"
    "  --hjälp   visa den här hjälpen\n";

// JSON has no infinity: a silent recording's loudness and peak are null.
QJsonValue number(double value) {
    return std::isfinite(value) ? QJsonValue(std::round(value * 100.0) / 100.0) : QJsonValue();
}

QJsonValue seconds(double value) {
    return QJsonValue(std::round(value * 1000.0) / 1000.0);
}

QJsonObject shapesJson(const ShapeFileReport& shapes) {
    QJsonObject object{{QStringLiteral("file"), shapes.path},
                       {QStringLiteral("status"), qt(listStatusKey(shapes.status))},
                       {QStringLiteral("shapes"), shapes.shapes}};
    if (shapes.status == ListStatus::Ok)
        object.insert(QStringLiteral("encoding"), qt(encodingKey(shapes.encoding)));
    else
        object.insert(QStringLiteral("message"),
                      shapes.path + u' ' + qt(problemText(shapes.status)));
    QJsonArray faults;
    for (const ShapeFault& fault : shapes.faults)
        faults.append(QJsonObject{{QStringLiteral("line"), fault.line},
                                  {QStringLiteral("message"), QStringLiteral("%1 rad %2: %3")
                                                                  .arg(shapes.path)
                                                                  .arg(fault.line)
                                                                  .arg(qt(fault.what))}});
    object.insert(QStringLiteral("faults"), faults);
    object.insert(QStringLiteral("classesWithoutList"),
                  QJsonArray::fromStringList(shapes.classesWithoutList));
    object.insert(QStringLiteral("phrasesWithoutRecording"),
                  QJsonArray::fromStringList(shapes.phrasesWithoutRecording));
    object.insert(QStringLiteral("unusedLists"), QJsonArray::fromStringList(shapes.unusedLists));
    return object;
}

QByteArray toJson(const FolderReport& report) {
    QJsonArray lists;
    for (const ListReport& list : report.lists) {
        QJsonObject item{{QStringLiteral("class"), list.wordClass},
                         {QStringLiteral("file"), list.path},
                         {QStringLiteral("status"), qt(listStatusKey(list.status))}};
        if (list.status == ListStatus::Ok) {
            item.insert(QStringLiteral("found"), matchKey(list.match));
            if (list.match != FileResolver::Match::Exact)
                item.insert(QStringLiteral("foundFile"), list.foundName);
            item.insert(QStringLiteral("encoding"), qt(encodingKey(list.encoding)));
            item.insert(QStringLiteral("lineEnds"), lineEndsKey(list.lineEnds));
            item.insert(QStringLiteral("items"), list.items);
            item.insert(QStringLiteral("emptyItems"), list.emptyItems);
            item.insert(QStringLiteral("duplicates"), list.duplicates);
            item.insert(QStringLiteral("overLengthLimit"), list.tooLong);
        } else {
            item.insert(QStringLiteral("message"), list.path + u' ' + qt(problemText(list.status)));
        }
        lists.append(item);
    }
    QJsonArray words;
    for (const WordReport& word : report.words) {
        QJsonObject item{{QStringLiteral("text"), word.text},
                         {QStringLiteral("sound"), word.soundPath},
                         {QStringLiteral("lists"), QJsonArray::fromStringList(word.classes)},
                         {QStringLiteral("found"), matchKey(word.match)},
                         {QStringLiteral("playable"), word.speakable()},
                         {QStringLiteral("madeByVoice"), word.madeByVoice},
                         {QStringLiteral("state"), wordStateKey(wordState(word))}};
        if (word.match != FileResolver::Match::None)
            item.insert(QStringLiteral("file"), word.foundName);
        if (word.problem != ClipDecoder::Problem::None)
            item.insert(QStringLiteral("problem"), problemKey(word.problem));
        words.append(item);
    }
    QJsonArray recordings;
    QJsonArray orphans;
    for (const RecordingReport& recording : report.recordings) {
        QJsonObject item{{QStringLiteral("file"), recording.name},
                         {QStringLiteral("used"), recording.used},
                         {QStringLiteral("playable"), bool(recording.measure)}};
        if (const auto& m = recording.measure) {
            item.insert(QStringLiteral("seconds"), seconds(m->seconds()));
            item.insert(QStringLiteral("rate"), m->rate);
            item.insert(QStringLiteral("channels"), m->channels);
            item.insert(QStringLiteral("peakDbfs"), number(m->peakDbfs));
            item.insert(QStringLiteral("loudnessLufs"), number(m->loudnessLufs));
            item.insert(QStringLiteral("leadingSilenceSeconds"),
                        seconds(m->secondsOf(m->leadingSilence)));
            item.insert(QStringLiteral("trailingSilenceSeconds"),
                        seconds(m->secondsOf(m->trailingSilence)));
            item.insert(QStringLiteral("firstSample"), number(m->firstEdge));
            item.insert(QStringLiteral("lastSample"), number(m->lastEdge));
            item.insert(QStringLiteral("loudnessOutlier"), recording.loud);
            item.insert(QStringLiteral("madeByVoice"), recording.madeByVoice);
        } else {
            item.insert(QStringLiteral("problem"), problemKey(recording.problem));
        }
        recordings.append(item);
        if (!recording.used)
            orphans.append(recording.name);
    }
    QJsonArray problems;
    for (const Finding& finding : report.findings)
        problems.append(
            QJsonObject{{QStringLiteral("severity"), finding.severity == Finding::Severity::Error
                                                         ? QStringLiteral("error")
                                                         : QStringLiteral("warning")},
                        {QStringLiteral("kind"), finding.kind},
                        {QStringLiteral("subject"), finding.subject},
                        {QStringLiteral("message"), finding.message}});

    QJsonObject root{{QStringLiteral("speakable"), report.speakable()},
                     {QStringLiteral("lists"), lists},
                     {QStringLiteral("words"), words},
                     {QStringLiteral("recordings"), recordings},
                     {QStringLiteral("medianLoudnessLufs"),
                      report.medianLufs ? number(*report.medianLufs) : QJsonValue()},
                     {QStringLiteral("orphans"), orphans},
                     {QStringLiteral("problems"), problems}};
    if (report.shapes)
        root.insert(QStringLiteral("shapes"), shapesJson(*report.shapes));
    return QJsonDocument(root).toJson(QJsonDocument::Indented);
}

// Columns padded to a width; the last column is not padded.
class Table {
public:
    explicit Table(std::initializer_list<int> widths)
        : m_widths(widths) {}
    QString row(const QStringList& cells) const {
        QString line;
        for (qsizetype i = 0; i < cells.size(); ++i) {
            const bool last = i + 1 == cells.size() || i >= m_widths.size();
            line += last ? cells[i] : cells[i].leftJustified(m_widths[i]) + u' ';
        }
        while (line.endsWith(u' '))
            line.chop(1);
        return line + u'\n';
    }

private:
    QList<int> m_widths;
};

// Of full scale: "49 %".
QString percent(float fraction) {
    return QString::number(std::lround(100.0 * fraction)) + QStringLiteral(" %");
}

// What mallar.txt gives, one fact a row; the problems themselves are told at the end.
QString shapesTable(const ShapeFileReport& shapes) {
    auto listed = [](const QStringList& items, const char* before, const char* after) {
        QStringList shown;
        for (const QString& item : items)
            shown << QString::fromUtf8(before) + item + QString::fromUtf8(after);
        return shown.isEmpty() ? QStringLiteral("-") : shown.join(QStringLiteral(", "));
    };
    QStringList faultLines;
    for (const ShapeFault& fault : shapes.faults)
        faultLines << QString::number(fault.line);
    const Table rows{31};
    QString text = QStringLiteral("\nMallar (%1)\n").arg(shapes.path);
    text += rows.row(
        {QStringLiteral("läst"), shapes.status == ListStatus::Ok
                                     ? QStringLiteral("ja, ") + qt(encodingName(shapes.encoding))
                                     : qt(problemText(shapes.status))});
    text += rows.row({QStringLiteral("mallar"),
                      shapes.shapes > 0 ? QString::number(shapes.shapes)
                                        : QStringLiteral("0, de elva inbyggda används")});
    text += rows.row(
        {QStringLiteral("rader som inte kan läsas"),
         faultLines.isEmpty() ? QStringLiteral("-") : faultLines.join(QStringLiteral(", "))});
    text += rows.row(
        {QStringLiteral("klasser utan lista"), listed(shapes.classesWithoutList, "[", "]")});
    text += rows.row({QStringLiteral("fraser utan inspelning"),
                      listed(shapes.phrasesWithoutRecording, "\"", "\"")});
    text += rows.row(
        {QStringLiteral("listor som ingen mall använder"), listed(shapes.unusedLists, "", "")});
    return text;
}

QString toTable(const FolderReport& report) {
    QString text = QStringLiteral("Listor\n");
    const Table lists{18, 10, 14, 8, 7, 6, 11};
    text += lists.row({QStringLiteral("fil"), QStringLiteral("läst"), QStringLiteral("kodning"),
                       QStringLiteral("radslut"), QStringLiteral("poster"), QStringLiteral("tomma"),
                       QStringLiteral("dubbletter"), QStringLiteral("för långa")});
    for (const ListReport& list : report.lists) {
        if (list.status != ListStatus::Ok) {
            text += lists.row({list.path, qt(problemText(list.status))});
            continue;
        }
        text += lists.row({list.path, QStringLiteral("ja"), qt(encodingName(list.encoding)),
                           lineEndsName(list.lineEnds), QString::number(list.items),
                           QString::number(list.emptyItems), QString::number(list.duplicates),
                           QString::number(list.tooLong)});
    }

    if (report.shapes)
        text += shapesTable(*report.shapes);

    text += QStringLiteral("\nOrd och fasta fraser\n");
    const Table words{18, 28, 50};
    text += words.row({QStringLiteral("ord"), QStringLiteral("inspelning"),
                       QStringLiteral("hittad"), QStringLiteral("spelbar")});
    for (const WordReport& word : report.words) {
        QString found = matchName(word.match);
        if (word.match != FileResolver::Match::None && word.match != FileResolver::Match::Exact)
            found += QStringLiteral(": ") + word.foundName;
        QString playable = word.match == FileResolver::Match::None ? QStringLiteral("-")
                           : word.speakable()                      ? QStringLiteral("ja")
                                              : QStringLiteral("nej, ") + problemName(word.problem);
        if (word.madeByVoice)
            playable += QStringLiteral(", gjord av voice");
        text += words.row({word.text, word.soundPath, found, playable});
    }

    text += QStringLiteral("\nInspelningar (median %1 LUFS)\n")
                .arg(report.medianLufs ? qt(swedishDecimal(*report.medianLufs, 1))
                                       : QStringLiteral("-"));
    const Table recordings{24, 9, 10, 8, 13, 13, 7, 7};
    text += recordings.row(
        {QStringLiteral("fil"), QStringLiteral("längd s"), QStringLiteral("topp dBFS"),
         QStringLiteral("LUFS"), QStringLiteral("tystnad före"), QStringLiteral("tystnad efter"),
         QStringLiteral("start"), QStringLiteral("slut"), QStringLiteral("anmärkning")});
    for (const RecordingReport& recording : report.recordings) {
        QStringList notes;
        if (recording.madeByVoice)
            notes << QStringLiteral("gjord av voice");
        if (recording.loud)
            notes << QStringLiteral("ljudstyrkan avviker");
        if (!recording.used)
            notes << QStringLiteral("används inte");
        if (!recording.measure) {
            notes.prepend(problemName(recording.problem));
            text += recordings.row({recording.name, QStringLiteral("-"), QStringLiteral("-"),
                                    QStringLiteral("-"), QStringLiteral("-"), QStringLiteral("-"),
                                    QStringLiteral("-"), QStringLiteral("-"),
                                    notes.join(QStringLiteral(", "))});
            continue;
        }
        const ClipMeasure& m = *recording.measure;
        text += recordings.row(
            {recording.name, qt(swedishDecimal(m.seconds(), 3)), qt(swedishDecimal(m.peakDbfs, 1)),
             qt(swedishDecimal(m.loudnessLufs, 1)),
             qt(swedishDecimal(m.secondsOf(m.leadingSilence), 3)) + QStringLiteral(" s"),
             qt(swedishDecimal(m.secondsOf(m.trailingSilence), 3)) + QStringLiteral(" s"),
             percent(m.firstEdge), percent(m.lastEdge), notes.join(QStringLiteral(", "))});
    }

    int errors = 0;
    int warnings = 0;
    if (!report.findings.empty())
        text += QStringLiteral("\nProblem\n");
    for (const Finding& finding : report.findings) {
        const bool error = finding.severity == Finding::Severity::Error;
        (error ? errors : warnings) += 1;
        text += (error ? QStringLiteral("fel: ") : QStringLiteral("varning: ")) + finding.message +
                u'\n';
    }
    const auto spoken = std::count_if(report.words.begin(), report.words.end(),
                                      [](const WordReport& w) { return w.speakable(); });
    const auto synthetic =
        std::count_if(report.words.begin(), report.words.end(),
                      [](const WordReport& w) { return wordState(w) == WordState::MadeByVoice; });
    text += QStringLiteral("\n%1 av %2 ord och fasta fraser kan sägas (%3); %4 fel, %5.\n")
                .arg(spoken)
                .arg(report.words.size())
                .arg(qt(swedishCount(synthetic, u"gjord av voice", u"gjorda av voice")))
                .arg(errors)
                .arg(qt(swedishCount(warnings, u"varning", u"varningar")));
    return text;
}

} // namespace

CliStatus runCheck(const std::vector<std::u16string>& args, CliContext& context) {
    // A pack is checked as the folder it unpacks to.
    if (const auto packed = checkPackFile(args, context, runCheck))
        return *packed;
    CommandLine parser;
    const int json = parser.add({u"json"});
    if (const auto done = parseCommandLine(parser, args, context, fromUtf8(kCheckUsage)))
        return *done;

    Output& out = context.out;
    const FolderReport report = inspectFolder(dataDirOf(context));
    if (parser.isSet(json))
        write(out, QByteArrayView(toJson(report)));
    else
        write(out, toTable(report));
    out.flush();
    return report.speakable() ? CliOk : CliIncomplete;
}

} // namespace brumlis
