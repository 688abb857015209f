#include "brumlis/voicecheck/folderreport.h"

#include "brumlis/qtbridge/files.h"
#include "brumlis/qtbridge/text.h"
#include "brumlis/sentence/composer.h"
#include "brumlis/sentence/enumnames.h"
#include "brumlis/sentence/shapes.h"
#include "brumlis/soundfiles/wavfile.h"
#include "brumlis/text/swedish.h"

#include <QFile>
#include <QHash>
#include <QSet>
#include <algorithm>
#include <climits>
#include <cmath>
#include <dirent.h>
#include <limits.h>
#include <stdlib.h>

namespace brumlis {

namespace {

using Severity = Finding::Severity;

QByteArray bytesOf(const std::filesystem::path& path) {
    return QByteArray::fromStdString(path.native());
}

QByteArray realPath(const QByteArray& path) {
    char resolved[PATH_MAX];
    return ::realpath(path.constData(), resolved) ? QByteArray(resolved) : path;
}

// A file the lookup found, as people know it: relative to the data folder.
QString relativeName(const QString& dataDir, const QByteArray& path) {
    const QByteArray prefix = QFile::encodeName(dataDir) + '/';
    return QFile::decodeName(
        !dataDir.isEmpty() && path.startsWith(prefix) ? path.sliced(prefix.size()) : path);
}

// What a file found only by a loose name is told as: "hittas bara om skiftläget ignoreras".
// ... and how it is found, after "hittas bara".
QString looseMatchHow(FileResolver::Match match) {
    switch (match) {
    case FileResolver::Match::Case:
        return QStringLiteral("om skiftläget ignoreras");
    case FileResolver::Match::Form:
        return QStringLiteral("om Unicode-formen ignoreras");
    case FileResolver::Match::Windows1252:
        return QStringLiteral("som Windows-1252-namn");
    case FileResolver::Match::None:
    case FileResolver::Match::Exact:
        break;
    }
    return {};
}

const char* looseMatchKind(FileResolver::Match match) {
    switch (match) {
    case FileResolver::Match::Case:
        return "found-by-case";
    case FileResolver::Match::Form:
        return "found-by-form";
    case FileResolver::Match::Windows1252:
        return "found-by-windows-1252";
    case FileResolver::Match::None:
    case FileResolver::Match::Exact:
        break;
    }
    return nullptr;
}

bool isBlankItem(const QString& item) {
    return item.trimmed().isEmpty();
}

QString count(qsizetype n, const char* one, const char* many) {
    return qt(swedishCount(n, fromUtf8(one), fromUtf8(many)));
}

// `shaped`: the folder has a mallar.txt, so a list that is not there is one its shapes ask for.
void reportList(const ListReport& list, bool shaped, std::vector<Finding>& findings) {
    auto add = [&](Severity severity, const char* kind, const QString& message) {
        findings.push_back({severity, QString::fromLatin1(kind), list.path, message});
    };
    if (shaped && list.status == ListStatus::Missing) {
        add(Severity::Error, "class-without-list",
            QStringLiteral("mallarna använder [%1], men %2 %3")
                .arg(list.wordClass, list.path, qt(problemText(list.status))));
        return;
    }
    if (list.status != ListStatus::Ok) {
        add(Severity::Error, "list-unreadable", list.path + u' ' + qt(problemText(list.status)));
        return;
    }
    if (const char* kind = looseMatchKind(list.match))
        add(Severity::Warning, kind,
            QStringLiteral("%1 hittas bara %2: %3")
                .arg(list.path, looseMatchHow(list.match), list.foundName));
    if (list.items == list.emptyItems) {
        add(Severity::Error, "list-empty", list.path + QStringLiteral(" är tom"));
        return;
    }
    if (list.encoding == ListEncoding::Windows1252 || list.encoding == ListEncoding::Mixed)
        add(Severity::Warning, "encoding",
            QStringLiteral("%1 är sparad som %2, inte UTF-8")
                .arg(list.path, qt(encodingName(list.encoding))));
    if (list.emptyItems > 0)
        add(Severity::Warning, "empty-items",
            QStringLiteral("%1 har %2")
                .arg(list.path, count(list.emptyItems, "tom post", "tomma poster")));
    if (list.duplicates > 0)
        add(Severity::Warning, "duplicates",
            QStringLiteral("%1 har %2")
                .arg(list.path, count(list.duplicates, "dubblett", "dubbletter")));
    if (list.tooLong > 0)
        add(Severity::Warning, "too-long",
            QStringLiteral("%1 har %2 längre än %3 tecken")
                .arg(list.path, count(list.tooLong, "post", "poster"))
                .arg(MaxItemLength));
}

// `shaped` as for reportList: a phrase is then one the shapes of mallar.txt say.
void reportWord(const WordReport& word, bool shaped, std::vector<Finding>& findings) {
    auto add = [&](Severity severity, const char* kind, const QString& message) {
        findings.push_back({severity, QString::fromLatin1(kind), word.text, message});
    };
    const QString& found = word.foundName;
    switch (word.match) {
    case FileResolver::Match::None:
        if (shaped && word.isPhrase()) {
            add(Severity::Error, "phrase-without-recording",
                QStringLiteral("mallarnas fras \"%1\" saknar inspelning (%2)")
                    .arg(word.text, word.soundPath));
            return;
        }
        add(Severity::Error, "missing-recording",
            QStringLiteral("\"%1\" saknar inspelning (%2)").arg(word.text, word.soundPath));
        return;
    case FileResolver::Match::Exact:
        break;
    case FileResolver::Match::Case:
    case FileResolver::Match::Form:
    case FileResolver::Match::Windows1252:
        add(Severity::Warning, looseMatchKind(word.match),
            QStringLiteral("\"%1\" hittas bara %2: %3")
                .arg(word.text, looseMatchHow(word.match), found));
        break;
    }
    if (word.problem != ClipDecoder::Problem::None)
        add(Severity::Error, "unplayable",
            QStringLiteral("\"%1\" kan inte spelas: %2 %3")
                .arg(word.text, found, problemName(word.problem)));
}

void reportRecording(const RecordingReport& recording, std::optional<double> median,
                     std::vector<Finding>& findings) {
    auto add = [&](const char* kind, const QString& message) {
        findings.push_back({Severity::Warning, QString::fromLatin1(kind), recording.name, message});
    };
    if (!recording.used) {
        add("orphan", QStringLiteral("%1 används inte av något ord").arg(recording.name));
        return;
    }
    if (recording.loud && median) {
        const double lufs = recording.measure->loudnessLufs;
        if (std::isinf(lufs))
            add("loudness", QStringLiteral("%1 är tyst").arg(recording.name));
        else
            add("loudness", QStringLiteral("%1 ligger %2 LU från mappens median (%3 LUFS)")
                                .arg(recording.name, qt(swedishDecimal(lufs - *median, 1)),
                                     qt(swedishDecimal(*median, 1))));
    }
}

// Top-level names in sound/ that end in .wav (any case), in byte order. Leading-dot names are
// left out: they are hidden files, such as a voice run's temporary files.
QList<QByteArray> recordingNames(const QByteArray& soundDir) {
    QList<QByteArray> names;
    DIR* dir = ::opendir(soundDir.constData());
    if (!dir)
        return names;
    while (const dirent* entry = ::readdir(dir)) {
        const QByteArray name(entry->d_name);
        if (!name.startsWith('.') && name.toLower().endsWith(".wav"))
            names << name;
    }
    ::closedir(dir);
    std::sort(names.begin(), names.end());
    return names;
}

} // namespace

LineEnds lineEndsOf(QStringView text) {
    bool crlf = false, lf = false, cr = false;
    for (qsizetype i = 0; i < text.size(); ++i) {
        if (text[i] == u'\r') {
            if (i + 1 < text.size() && text[i + 1] == u'\n') {
                crlf = true;
                ++i;
            } else {
                cr = true;
            }
        } else if (text[i] == u'\n') {
            lf = true;
        }
    }
    const int kinds = int(crlf) + int(lf) + int(cr);
    if (kinds > 1)
        return LineEnds::Mixed;
    return crlf ? LineEnds::CrLf : lf ? LineEnds::Lf : cr ? LineEnds::Cr : LineEnds::None;
}

QByteArray folderBytes(const QString& dataDir) {
    return dataDir.isEmpty() ? QByteArray(".") : QFile::encodeName(dataDir);
}

DataSubfolder dataSubfolder(const QString& dataDir, const QString& name) {
    const QByteArray root = folderBytes(dataDir);
    QByteArray found = bytesOf(FileResolver(corePath(root)).resolve(core(name)));
    if (found.isEmpty())
        found = root + '/' + QFile::encodeName(name);
    return {found, QFile::decodeName(found.sliced(root.size() + 1))};
}

QString recordingTarget(const QString& dataDir, const QString& soundPath) {
    const QString root = dataDir.isEmpty() ? QStringLiteral(".") : dataDir;
    const qsizetype slash = soundPath.indexOf(u'/');
    if (slash < 0)
        return root + u'/' + soundPath;
    return root + u'/' + dataSubfolder(dataDir, soundPath.left(slash)).name +
           soundPath.sliced(slash);
}

namespace {

// The lists in text/: names ending in .txt (in any case) that are not hidden and not a
// folder, in byte order, as full paths in file-system bytes.
QList<QByteArray> listFiles(const DataSubfolder& text) {
    QList<QByteArray> names;
    if (DIR* dir = ::opendir(text.path.constData())) {
        while (const dirent* entry = ::readdir(dir)) {
            const QByteArray name(entry->d_name);
            if (!name.startsWith('.') && name.toLower().endsWith(".txt") && name.size() > 4 &&
                entry->d_type != DT_DIR)
                names << name;
        }
        ::closedir(dir);
    }
    std::sort(names.begin(), names.end());
    for (QByteArray& name : names)
        name.prepend(text.path + '/');
    return names;
}

// What mallar.txt gave and what its shapes lack, with a finding for each fault of the file
// and each list no shape uses. A class without a list and a phrase without a recording are
// told with the lists and the words, so that each problem is named once.
ShapeFileReport reportShapes(const QString& dataDir, const ShapeFile& file,
                             const FolderReport& report, std::vector<Finding>& findings) {
    ShapeFileReport shapes;
    shapes.status = file.status;
    shapes.encoding = file.encoding;
    shapes.shapes = file.own() ? int(file.parsed.shapes.size()) : 0;
    shapes.faults = file.parsed.faults;
    auto add = [&](Severity severity, const char* kind, const QString& subject,
                   const QString& message) {
        findings.push_back({severity, QString::fromLatin1(kind), subject, message});
    };
    if (file.status != ListStatus::Ok)
        add(Severity::Error, "shapes-unreadable", shapes.path,
            QStringLiteral("%1 %2; de elva inbyggda mallarna används")
                .arg(shapes.path, qt(problemText(file.status))));
    for (const ShapeFault& fault : shapes.faults) {
        const QString where = QStringLiteral("%1 rad %2").arg(shapes.path).arg(fault.line);
        add(Severity::Error, "shape-fault", where, where + QStringLiteral(": ") + qt(fault.what));
    }
    if (file.status == ListStatus::Ok && !file.own())
        add(Severity::Warning, "no-shapes", shapes.path,
            QStringLiteral("%1 har ingen mall som kan användas; de elva inbyggda mallarna används")
                .arg(shapes.path));

    for (const ListReport& list : report.lists)
        if (list.status == ListStatus::Missing)
            shapes.classesWithoutList << list.wordClass;
    for (const WordReport& word : report.words)
        if (word.isPhrase() && word.match == FileResolver::Match::None)
            shapes.phrasesWithoutRecording << word.text;
    QSet<QByteArray> read;
    for (const ListReport& list : report.lists)
        read.insert(realPath(list.file));
    const DataSubfolder text = dataSubfolder(dataDir, QStringLiteral("text"));
    for (const QByteArray& file : listFiles(text)) {
        if (read.contains(realPath(file)))
            continue;
        const QString path =
            text.name + u'/' + QFile::decodeName(file.sliced(text.path.size() + 1));
        shapes.unusedLists << path;
        add(Severity::Warning, "unused-list", path,
            QStringLiteral("%1 används inte av någon mall").arg(path));
    }
    return shapes;
}

std::vector<WordReport> wordsOf(const QString& dataDir, const ShapeVocabulary& vocabulary,
                                std::vector<ListReport>* lists) {
    std::vector<WordReport> words;
    QHash<QString, std::size_t> index;
    for (const std::u16string& phrase : vocabulary.phrases) {
        index.insert(qt(phrase), words.size());
        words.push_back({qt(phrase), qt(phraseSoundPath(phrase)), {}, {}, {}, {}, {}, {}});
    }
    const FileResolver files(corePath(dataDir));
    ListBuffers buffers;
    for (const std::u16string& wordClass : vocabulary.classes) {
        ListReport list;
        list.wordClass = qt(wordClass);
        list.path = QStringLiteral("text/%1.txt").arg(list.wordClass);
        FileResolver::Found found;
        buffers.text.clear();
        list.status = readDataList(files, core(list.path), buffers, &list.encoding, &found);
        list.match = found.match;
        list.file = bytesOf(found.path);
        list.foundName = relativeName(dataDir, list.file);
        const std::u16string_view text = list.status == ListStatus::Ok
                                             ? std::u16string_view(buffers.text)
                                             : std::u16string_view();
        list.lineEnds = lineEndsOf(qt(text));
        QSet<QString> seen;
        ItemReader reader(text);
        std::u16string read;
        while (reader.next(&read)) {
            const QString item = qt(read);
            ++list.items;
            if (reader.lastItemCut())
                ++list.tooLong;
            if (isBlankItem(item)) {
                ++list.emptyItems;
                continue;
            }
            if (seen.contains(item)) {
                ++list.duplicates;
                continue;
            }
            seen.insert(item);
            // A word the program looks up by the same name as a fixed phrase shares its entry
            // only when the sound path is the same too.
            const QString soundPath = qt(SentenceComposer::soundPathFor(read));
            const auto known = index.constFind(item);
            if (known != index.cend() && words[*known].soundPath == soundPath) {
                words[*known].classes << list.wordClass;
                continue;
            }
            index.insert(item, words.size());
            words.push_back({item, soundPath, {list.wordClass}, {}, {}, {}, {}, {}});
        }
        if (lists)
            lists->push_back(std::move(list));
    }
    return words;
}

} // namespace

std::vector<WordReport> collectWords(const QString& dataDir, std::vector<ListReport>* lists) {
    // What the folder's shapes use: its own mallar.txt's, or the eleven built-in ones'.
    return wordsOf(dataDir, vocabularyOf(readShapeFile(corePath(dataDir)).book()), lists);
}

QList<QByteArray> recordingFiles(const QString& dataDir) {
    const QByteArray soundDir = dataSubfolder(dataDir, QStringLiteral("sound")).path;
    QList<QByteArray> files = recordingNames(soundDir);
    for (QByteArray& name : files)
        name.prepend(soundDir + '/');
    return files;
}

FolderReport inspectFolder(const QString& dataDir) {
    FolderReport report;
    const ShapeFile shapeFile = readShapeFile(corePath(dataDir));
    const ShapeVocabulary vocabulary = vocabularyOf(shapeFile.book());
    report.words = wordsOf(dataDir, vocabulary, &report.lists);

    const FileResolver resolver(corePath(dataDir));
    QSet<QByteArray> used;
    for (WordReport& word : report.words) {
        const FileResolver::Found found = resolver.find(core(word.soundPath));
        word.match = found.match;
        word.file = bytesOf(found.path);
        word.foundName = relativeName(dataDir, word.file);
        if (found.match == FileResolver::Match::None)
            continue;
        ClipDecoder decoder;
        decoder.open(found.path);
        word.problem = decoder.problem();
        word.madeByVoice = word.problem == ClipDecoder::Problem::None && isMadeByVoice(word.file);
        used.insert(realPath(word.file));
    }

    const DataSubfolder sound = dataSubfolder(dataDir, QStringLiteral("sound"));
    std::vector<double> levels;
    for (const QByteArray& name : recordingNames(sound.path)) {
        RecordingReport recording;
        recording.name = sound.name + u'/' + QFile::decodeName(name);
        recording.file = sound.path + '/' + name;
        recording.used = used.contains(realPath(recording.file));
        recording.measure = measureClip(recording.file, &recording.problem);
        recording.madeByVoice = recording.measure && isMadeByVoice(recording.file);
        if (recording.measure && std::isfinite(recording.measure->loudnessLufs))
            levels.push_back(recording.measure->loudnessLufs);
        report.recordings.push_back(std::move(recording));
    }
    report.medianLufs = median(levels);
    for (RecordingReport& recording : report.recordings)
        recording.loud =
            recording.measure && report.medianLufs &&
            !(std::fabs(recording.measure->loudnessLufs - *report.medianLufs) <= LoudnessTolerance);

    const bool shaped = shapeFile.present;
    if (shaped)
        report.shapes = reportShapes(dataDir, shapeFile, report, report.findings);
    for (const ListReport& list : report.lists)
        reportList(list, shaped, report.findings);
    for (const WordReport& word : report.words)
        reportWord(word, shaped, report.findings);
    for (const RecordingReport& recording : report.recordings)
        reportRecording(recording, report.medianLufs, report.findings);
    return report;
}

VoiceSummary summarize(const FolderReport& report) {
    VoiceSummary summary;
    summary.words = std::count_if(report.words.begin(), report.words.end(),
                                  [](const WordReport& w) { return !w.isPhrase(); });
    summary.recordings = qint64(report.recordings.size());
    summary.madeByVoice = std::count_if(report.recordings.begin(), report.recordings.end(),
                                        [](const RecordingReport& r) { return r.madeByVoice; });
    for (const Finding& finding : report.findings)
        if (finding.severity == Finding::Severity::Error)
            summary.errors << finding.message;
    return summary;
}

bool FolderReport::speakable() const {
    return std::none_of(findings.begin(), findings.end(),
                        [](const Finding& f) { return f.severity == Finding::Severity::Error; });
}

bool isMadeByVoice(const QByteArray& path) {
    const QByteArray software = recordingSoftware(path);
    constexpr qsizetype n = sizeof(VoiceSoftware) - 1;
    return software.startsWith(VoiceSoftware) && (software.size() == n || software[n] == ' ');
}

WordState wordState(const WordReport& word) {
    if (word.match == FileResolver::Match::None)
        return WordState::Missing;
    if (word.problem != ClipDecoder::Problem::None)
        return WordState::Unplayable;
    if (word.match != FileResolver::Match::Exact)
        return WordState::LooseName;
    return word.madeByVoice ? WordState::MadeByVoice : WordState::Recorded;
}

QString fileNameProblem(const QString& word) {
    if (word.isEmpty() || word == u"." || word == u"..")
        return QStringLiteral("är inget filnamn");
    if (word.contains(u'/') || word.contains(u'\\'))
        return QStringLiteral("innehåller / eller \\");
    if (word.contains(QChar(0)))
        return QStringLiteral("innehåller ett NUL-tecken");
    if (QFile::encodeName(word + QStringLiteral(".wav")).size() > NAME_MAX)
        return QStringLiteral("är för långt för ett filnamn");
    return {};
}

namespace {

constexpr EnumName<LineEnds> LineEndsNames[] = {
    {LineEnds::None, "none", "inga"},
    {LineEnds::CrLf, "crlf", "CR LF"},
    {LineEnds::Lf, "lf", "LF"},
    {LineEnds::Cr, "cr", "CR"},
    {LineEnds::Mixed, "mixed", "blandade"},
};

constexpr EnumName<FileResolver::Match> MatchNames[] = {
    {FileResolver::Match::None, "missing", "saknas"},
    {FileResolver::Match::Exact, "exact", "exakt namn"},
    {FileResolver::Match::Case, "case", "bara om skiftläget ignoreras"},
    {FileResolver::Match::Form, "unicode-form", "bara om Unicode-formen ignoreras"},
    {FileResolver::Match::Windows1252, "windows-1252", "bara som Windows-1252-namn"},
};

// Problem::None has no row: a recording that plays has no problem to name.
constexpr EnumName<ClipDecoder::Problem> ProblemNames[] = {
    {ClipDecoder::Problem::Missing, "missing", "finns inte"},
    {ClipDecoder::Problem::NotRegular, "not-regular-file", "är inte en vanlig fil"},
    {ClipDecoder::Problem::Undecodable, "not-decodable", "går inte att avkoda"},
    {ClipDecoder::Problem::Refused, "refused-format",
     "har ett format som inte tas emot (samplingsfrekvens eller antal kanaler)"},
};

constexpr EnumName<WordState> WordStateNames[] = {
    {WordState::Missing, "missing", "saknas"},
    {WordState::Unplayable, "unplayable", "kan inte spelas"},
    {WordState::LooseName, "loose-name", "bara med löst namn"},
    {WordState::MadeByVoice, "made-by-voice", "gjord av voice"},
    {WordState::Recorded, "recorded", "inspelad"},
};

} // namespace

QString lineEndsKey(LineEnds ends) {
    return qt(keyOf(LineEndsNames, ends));
}

QString lineEndsName(LineEnds ends) {
    return qt(nameOf(LineEndsNames, ends));
}

QString matchKey(FileResolver::Match match) {
    return qt(keyOf(MatchNames, match));
}

QString matchName(FileResolver::Match match) {
    return qt(nameOf(MatchNames, match));
}

QString problemKey(ClipDecoder::Problem problem) {
    return qt(keyOf(ProblemNames, problem));
}

QString problemName(ClipDecoder::Problem problem) {
    return qt(nameOf(ProblemNames, problem));
}

QString wordStateKey(WordState state) {
    return qt(keyOf(WordStateNames, state));
}

QString wordStateName(WordState state) {
    return qt(nameOf(WordStateNames, state));
}

} // namespace brumlis
