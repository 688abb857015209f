#include "check.h"

#include "brumlis/voicetools/folderreport.h"
#include "packs.h"

#include <QCommandLineParser>
#include <QFile>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <cmath>

namespace brumlis {

namespace {

constexpr char kUsage[] =
    "Användning: brumlis-cli [--data MAPP] check [--json] [FIL.brumlis]\n"
    "\n"
    "Går igenom ordlistorna i text/ och inspelningarna i sound/ så som programmet läser dem:\n"
    "listornas kodning, radslut, tomma poster och dubbletter; vilken inspelning varje ord och\n"
    "fast fras spelar, hur den hittas och om voice gjorde den; varje inspelnings längd,\n"
    "toppnivå, ljudstyrka (EBU R128) och tystnad före och efter; inspelningar som inget ord\n"
    "använder. Råa tagningar i tagningar/ räknas inte.\n"
    "Slutstatus 0 när varje ord kan sägas, 1 när något saknas eller är trasigt.\n"
    "Med FIL.brumlis granskas paketet i stället, utan att installeras.\n"
    "\n"
    "  --json   ett JSON-dokument i stället för tabeller\n"
    "  --help   visa den här hjälpen\n";

// JSON has no infinity: a silent recording's loudness and peak are null.
QJsonValue number(double value) {
    return std::isfinite(value) ? QJsonValue(std::round(value * 100.0) / 100.0) : QJsonValue();
}

QJsonValue seconds(double value) {
    return QJsonValue(std::round(value * 1000.0) / 1000.0);
}

QByteArray toJson(const FolderReport& report) {
    QJsonArray lists;
    for (const ListReport& list : report.lists) {
        QJsonObject item{{QStringLiteral("class"), list.wordClass},
                         {QStringLiteral("file"), list.path},
                         {QStringLiteral("status"), listStatusKey(list.status)}};
        if (list.status == ListStatus::Ok) {
            item.insert(QStringLiteral("encoding"), encodingKey(list.encoding));
            item.insert(QStringLiteral("lineEnds"), lineEndsKey(list.lineEnds));
            item.insert(QStringLiteral("items"), list.items);
            item.insert(QStringLiteral("emptyItems"), list.emptyItems);
            item.insert(QStringLiteral("duplicates"), list.duplicates);
            item.insert(QStringLiteral("overLengthLimit"), list.tooLong);
        } else {
            item.insert(QStringLiteral("message"), list.path + u' ' + problemText(list.status));
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
        if (word.match != SoundResolver::Match::None)
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

QString fixed(double value, int decimals) {
    return std::isfinite(value) ? QString::number(value, 'f', decimals) : QStringLiteral("-inf");
}

// Of full scale: "49 %".
QString percent(float fraction) {
    return QString::number(std::lround(100.0 * fraction)) + QStringLiteral(" %");
}

QString toTable(const FolderReport& report) {
    QString text = QStringLiteral("Listor\n");
    const Table lists{18, 10, 14, 8, 7, 6, 11};
    text += lists.row({QStringLiteral("fil"), QStringLiteral("läst"), QStringLiteral("kodning"),
                       QStringLiteral("radslut"), QStringLiteral("poster"), QStringLiteral("tomma"),
                       QStringLiteral("dubbletter"), QStringLiteral("för långa")});
    for (const ListReport& list : report.lists) {
        if (list.status != ListStatus::Ok) {
            text += lists.row({list.path, problemText(list.status)});
            continue;
        }
        text += lists.row({list.path, QStringLiteral("ja"), encodingName(list.encoding),
                           lineEndsName(list.lineEnds), QString::number(list.items),
                           QString::number(list.emptyItems), QString::number(list.duplicates),
                           QString::number(list.tooLong)});
    }

    text += QStringLiteral("\nOrd och fasta fraser\n");
    const Table words{18, 28, 50};
    text += words.row({QStringLiteral("ord"), QStringLiteral("inspelning"),
                       QStringLiteral("hittad"), QStringLiteral("spelbar")});
    for (const WordReport& word : report.words) {
        QString found = matchName(word.match);
        if (word.match != SoundResolver::Match::None && word.match != SoundResolver::Match::Exact)
            found += QStringLiteral(": ") + word.foundName;
        QString playable = word.match == SoundResolver::Match::None ? QStringLiteral("-")
                           : word.speakable()                       ? QStringLiteral("ja")
                                              : QStringLiteral("nej, ") + problemName(word.problem);
        if (word.madeByVoice)
            playable += QStringLiteral(", gjord av voice");
        text += words.row({word.text, word.soundPath, found, playable});
    }

    text += QStringLiteral("\nInspelningar (median %1 LUFS)\n")
                .arg(report.medianLufs ? fixed(*report.medianLufs, 1) : QStringLiteral("-"));
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
            {recording.name, fixed(m.seconds(), 3), fixed(m.peakDbfs, 1), fixed(m.loudnessLufs, 1),
             fixed(m.secondsOf(m.leadingSilence), 3) + QStringLiteral(" s"),
             fixed(m.secondsOf(m.trailingSilence), 3) + QStringLiteral(" s"), percent(m.firstEdge),
             percent(m.lastEdge), notes.join(QStringLiteral(", "))});
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
    text += QStringLiteral("\n%1 av %2 ord och fasta fraser kan sägas (%3 gjorda av voice); %4 "
                           "fel, %5 %6.\n")
                .arg(spoken)
                .arg(report.words.size())
                .arg(synthetic)
                .arg(errors)
                .arg(warnings)
                .arg(warnings == 1 ? QStringLiteral("varning") : QStringLiteral("varningar"));
    return text;
}

} // namespace

CliStatus runCheck(const QStringList& args, CliContext& context) {
    // A pack is checked as the folder it unpacks to.
    if (const auto packed = checkPackFile(args, context, runCheck))
        return *packed;
    QCommandLineParser parser;
    const QCommandLineOption json(QStringLiteral("json"));
    if (const auto done =
            parseCommandLine(parser, {json}, args, context, QString::fromUtf8(kUsage)))
        return *done;

    Output& out = context.out;
    const FolderReport report = inspectFolder(context.dataDir);
    if (parser.isSet(json))
        out.write(QByteArrayView(toJson(report)));
    else
        out.write(toTable(report));
    out.flush();
    return report.speakable() ? CliOk : CliIncomplete;
}

} // namespace brumlis
