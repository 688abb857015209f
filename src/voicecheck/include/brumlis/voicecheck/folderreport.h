#pragma once

#include "brumlis/audio/clipdecoder.h"
#include "brumlis/sentence/fileresolver.h"
#include "brumlis/sentence/shapes.h"
#include "brumlis/sentence/wordlist.h"
#include "brumlis/soundfiles/loudness.h"

#include <QByteArray>
#include <QString>
#include <QStringList>
#include <optional>
#include <vector>

namespace brumlis {

/// How the lines of a list end.
enum class LineEnds { None, CrLf, Lf, Cr, Mixed };

LineEnds lineEndsOf(QStringView text);

/// Recordings whose loudness is further than this from the folder's median are flagged.
inline constexpr double LoudnessTolerance = 3.0;

/// What `voice` writes into the software field of the recordings it makes, so that check and
/// the studio can tell a synthetic voice from a recorded one. libsndfile adds its own name.
inline constexpr char VoiceSoftware[] = "brumlis-cli voice";
/// The same for recordings saved by brumlis-studio.
inline constexpr char StudioSoftware[] = "brumlis-studio";

/// True when the recording at `path` was made by `voice`.
bool isMadeByVoice(const QByteArray& path);

struct ListReport {
    QString wordClass;
    QString path; ///< relative to the data folder: "text/adj.txt"
    ListStatus status = ListStatus::Missing;
    FileResolver::Match match = FileResolver::Match::None; ///< how the file was found
    QByteArray file;   ///< the file read, in file-system bytes; empty when none was found
    QString foundName; ///< the same, relative to the data folder: "Text/ADJ.TXT"
    ListEncoding encoding = ListEncoding::Utf8;
    LineEnds lineEnds = LineEnds::None;
    qsizetype items = 0;
    qsizetype emptyItems = 0; ///< blank, so a pick shows and plays nothing
    qsizetype duplicates = 0; ///< items equal to an earlier one
    qsizetype tooLong = 0;    ///< items whose text is longer than MaxItemLength
};

/// One word or fixed phrase, and the recording the program plays for it.
struct WordReport {
    QString text;
    QString soundPath;   ///< as the program looks it up: "sound/Kalle.wav"
    QStringList classes; ///< the lists that hold it; empty for a fixed phrase
    FileResolver::Match match = FileResolver::Match::None;
    QByteArray file;   ///< what the lookup found, in file-system bytes
    QString foundName; ///< the same, relative to the data folder: "sound/kalle.wav"
    ClipDecoder::Problem problem = ClipDecoder::Problem::None;
    bool madeByVoice = false; ///< the recording found carries voice's mark

    bool isPhrase() const { return classes.isEmpty(); }
    bool speakable() const {
        return match != FileResolver::Match::None && problem == ClipDecoder::Problem::None;
    }
};

/// Where a word stands, from the most to the least in need of a recording.
enum class WordState {
    Missing,     ///< no recording at all
    Unplayable,  ///< a file, but one that cannot be played
    LooseName,   ///< found only by ignoring case, Unicode form or as a Windows-1252 name
    MadeByVoice, ///< made by `voice`, not recorded by a person
    Recorded,    ///< a recording under the word's exact name
};

WordState wordState(const WordReport& word);

/// Why `word` cannot be the name of a recording or of a folder ("innehåller / eller \\"),
/// or empty when it can. A fixed phrase's file name is fixed by the program and is fine.
QString fileNameProblem(const QString& word);

/// One file in sound/ that looks like a recording (its name ends in .wav).
struct RecordingReport {
    QString name;    ///< "sound/Kalle.wav"
    QByteArray file; ///< in file-system bytes
    ClipDecoder::Problem problem = ClipDecoder::Problem::None;
    std::optional<ClipMeasure> measure; ///< when playable
    bool madeByVoice = false;
    bool used = false;
    bool loud = false; ///< loudness further than LoudnessTolerance from the median
};

/// A problem, named once. Errors keep a word from being spoken; warnings do not.
struct Finding {
    enum class Severity { Error, Warning };
    Severity severity = Severity::Error;
    QString kind;    ///< a fixed English key, for scripts: "missing-recording", "orphan", ...
    QString subject; ///< the list, word or recording it is about
    QString message; ///< in Swedish, for people
};

/// What a data folder's mallar.txt gives, when it has one.
struct ShapeFileReport {
    QString path = QString::fromUtf16(ShapeFileName); ///< relative to the data folder
    ListStatus status = ListStatus::Missing;
    ListEncoding encoding = ListEncoding::Utf8;
    int shapes = 0; ///< the file's own usable shapes; 0 when the built-in ones are used
    std::vector<ShapeFault> faults;
    QStringList classesWithoutList;      ///< classes the shapes use whose list does not exist
    QStringList phrasesWithoutRecording; ///< fixed phrases with no recording found
    QStringList unusedLists;             ///< lists in text/ that no shape uses: "text/x.txt"
};

struct FolderReport {
    std::vector<ListReport> lists;
    std::vector<WordReport> words; ///< fixed phrases first, then words in list order
    std::vector<RecordingReport> recordings;
    std::optional<double> medianLufs;
    std::optional<ShapeFileReport> shapes; ///< only when the folder has a mallar.txt
    std::vector<Finding> findings;

    /// True when no finding is an error: every list is read and every word can be spoken.
    bool speakable() const;
};

/// A folder's voice in short: what it holds and what keeps it from being spoken. What pack
/// writes into a manifest, and what the installer tells of a pack it unpacked.
struct VoiceSummary {
    qint64 words = 0;       ///< distinct words in the lists the shapes use; phrases not counted
    qint64 recordings = 0;  ///< files in sound/ that look like recordings
    qint64 madeByVoice = 0; ///< of them, how many `voice` made
    QStringList errors;     ///< the message of every error check finds, in its order

    bool speakable() const { return errors.isEmpty(); }
};

VoiceSummary summarize(const FolderReport& report);

/// Every word and fixed phrase, read as the program reads them (same reader, same file
/// names). `lists` receives what was found about each list when given.
std::vector<WordReport> collectWords(const QString& dataDir,
                                     std::vector<ListReport>* lists = nullptr);

/// Reads the data folder at `dataDir` (empty: the working directory) as the program does,
/// and measures every recording.
FolderReport inspectFolder(const QString& dataDir);

/// The recordings in sound/: files whose name ends in .wav (any case) and does not start
/// with a dot, as full paths in file-system bytes, in byte order.
QList<QByteArray> recordingFiles(const QString& dataDir);

/// The file-system bytes of the data folder, "." for the working directory.
QByteArray folderBytes(const QString& dataDir);

/// A folder of the data folder ("text", "sound"), by its exact name or, when that is not
/// there, in another case ("Sound"), as the program finds it.
struct DataSubfolder {
    QByteArray path; ///< in file-system bytes; the exact name when there is no such folder
    QString name;    ///< relative to the data folder: "sound", "Sound"
};
DataSubfolder dataSubfolder(const QString& dataDir, const QString& name);

/// Where a new recording for `soundPath` ("sound/Kalle.wav") is written: under the folder
/// that dataSubfolder() finds for "sound", so that a folder "Sound" gets no twin "sound".
QString recordingTarget(const QString& dataDir, const QString& soundPath);

/// Report values for scripts (fixed English keys, as check --json writes them) and for
/// people (Swedish names). ClipDecoder::Problem::None has neither; the encoding and status of
/// a list are named in sentence/wordlist.h.
QString lineEndsKey(LineEnds ends);
QString lineEndsName(LineEnds ends);
QString matchKey(FileResolver::Match match);
QString matchName(FileResolver::Match match);
QString problemKey(ClipDecoder::Problem problem);
QString problemName(ClipDecoder::Problem problem);
QString wordStateKey(WordState state);
QString wordStateName(WordState state);

} // namespace brumlis
