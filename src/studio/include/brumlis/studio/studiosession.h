#pragma once

#include "brumlis/linuxaudio/soundinput.h"
#include "brumlis/playback/soundplayer.h"
#include "brumlis/qtbridge/qtspeechloop.h"
#include "brumlis/sentence/random.h"
#include "brumlis/studio/recorder.h"
#include "brumlis/studio/wordqueue.h"
#include "brumlis/voicetools/recordingsaver.h"
#include "brumlis/voicetools/takestore.h"
#include "brumlis/voicetools/taketrim.h"

#include <QFileSystemWatcher>
#include <QObject>
#include <QSet>
#include <QThreadPool>
#include <QTimer>
#include <array>
#include <functional>
#include <memory>

namespace brumlis {

class SpeechController;
struct ShapeBook;

/// The questions the studio asks before it does something that cannot be taken back
/// silently. A seam, so that tests answer them.
class StudioQuestions {
public:
    enum class Answer { No, Yes, YesToAll };
    virtual ~StudioQuestions() = default;
    /// With `offerAll`, the user may also say yes for the rest of the session.
    virtual Answer ask(const QString& question, bool offerAll) = 0;
};

/// A recording session in brumlis-studio, without widgets: the words of a data folder one
/// at a time, the input, the takes of the word on screen with their cuts, keeping and
/// undoing, and everything heard, which goes through one speech controller and the sound
/// player it is given. Its slots are what the user can do; its signals say what changed.
///
/// Nothing here waits for the sound server or the disk: the recorder reports from the
/// server's thread; trimming, storing and saving run one after another on a thread of
/// their own, and reading the folder on another, each reporting back when done.
class StudioSession final : public QObject {
    Q_OBJECT

public:
    /// The cut of a take moves by this much at a time.
    static constexpr double CutStepSeconds = 0.01;

    /// Where a take's cut is kept on disk, and a moved cut still to be written there.
    struct TrimFile;

    /// One take of the current word.
    struct Take {
        int id = 0;     ///< unique in this session
        int number = 0; ///< its file in tagningar/<word>/; 0 until it is stored
        std::vector<float> raw;
        int rate = 0;
        TrimPoints trim;     ///< where it is cut
        TrimPoints autoTrim; ///< where the speech found in it puts the cut
        bool voiced = false; ///< speech was found in it
        TakeFigures figures; ///< of the take as cut at `trim`
        QStringList warnings;
        std::vector<float> outline;         ///< its level over time, for drawing the cut
        std::shared_ptr<TrimFile> trimFile; ///< where its cut is kept
    };

    /// What the user can do, each enabled or not by canDo().
    enum class Action {
        Record,
        NewTake,
        Listen,
        Keep,
        Skip,
        Back,
        Undo,
        ListenToSaved,
        Prova,
        CutStartEarlier,
        CutStartLater,
        CutEndEarlier,
        CutEndLater,
        ResetCut,
    };
    Q_ENUM(Action)

    /// The texts the session keeps for showing.
    enum class Text {
        Progress,     ///< "n av m inspelade"
        PreviousWord, ///< with an arrow; empty at the first word
        CurrentWord,  ///< the word to say
        NextWord,     ///< with an arrow; empty at the last word
        WordState,    ///< the current word's recording
        Example,      ///< a sentence with the word in it, or Prova's as it is spoken
        Figures,      ///< of the chosen take, with its warnings
        Cut,          ///< where the chosen take is cut
        Notice,       ///< trouble with the sound server or the input
        Status,       ///< what just happened, or what to do next
    };
    Q_ENUM(Text)
    static constexpr int TextCount = int(Text::Status) + 1;

    /// An input to choose, as offered to the user; the first is the server's default.
    struct Input {
        QString label;
        QByteArray name; ///< empty: the server's default
    };

    /// `dataDir` holds text/ and sound/ (empty: the working directory). Everything heard
    /// is played by `player` (without one, silently and at once).
    StudioSession(std::unique_ptr<SoundInput> server, QString dataDir,
                  std::unique_ptr<StudioQuestions> questions, std::unique_ptr<SoundPlayer> player,
                  QObject* parent = nullptr);
    ~StudioSession() override;

    const WordQueue& queue() const { return m_queue; }
    const std::vector<Take>& takes() const { return m_takes; }
    /// The index in takes() of the chosen take; -1 when there is none.
    int chosenTake() const { return m_chosen; }
    /// The line of take `index` in a list of takes.
    QString takeRow(int index) const;
    Recorder& recorder() { return *m_recorder; }
    bool isRecording() const { return m_recorder->isRecording(); }

    QString text(Text which) const { return m_texts[std::size_t(which)]; }
    bool canDo(Action action) const;
    /// Whether the input can be recorded from, which voice start needs.
    bool inputUsable() const;

    const QList<Input>& inputs() const { return m_inputs; }
    const QByteArray& input() const { return m_input; }
    bool startsOnVoice() const { return m_startOnVoice; }
    bool playsEachTake() const { return m_playEachTake; }

public Q_SLOTS:
    /// Mellanslag: starts a take, or ends the one running.
    void toggleRecording();
    /// R: a new take now.
    void newTake();
    /// P: plays the chosen take as it is cut.
    void listen();
    /// Enter: saves the chosen take as the word's recording and goes to the next word.
    void keep();
    /// S: leaves the word for later and goes to the next.
    void skip();
    /// Backsteg: back to the word before.
    void back();
    /// Ctrl+Z: takes the last save back.
    void undo();
    /// L: plays the word's saved recording.
    void listenToSaved();
    /// T: says a sentence with the word in it, the chosen take in the word's place as it
    /// would be saved, among the voice's other recordings.
    void prova();
    /// [ and ]: the chosen take's cut starts CutStepSeconds earlier or later, within the
    /// raw take and never past its end.
    void cutStartEarlier();
    void cutStartLater();
    /// { and }: the same for where it ends.
    void cutEndEarlier();
    void cutEndLater();
    /// K: the cut goes back to where the speech found in the take puts it.
    void resetCut();

    /// The word at `index` of the queue becomes the one to record.
    void chooseWord(int index);
    void chooseTake(int index);
    /// Records from the input named `name` (empty: the server's default).
    void chooseInput(const QByteArray& name);
    void setStartOnVoice(bool on);
    void setPlayEachTake(bool on);

    /// The user is leaving: whatever sounds stops, and nothing more is played.
    void close();

Q_SIGNALS:
    void textChanged(brumlis::StudioSession::Text which, const QString& text);
    /// What canDo() or isRecording() say may have changed.
    void controlsChanged();
    /// The words or their states changed.
    void wordsChanged();
    /// Another word is the current one.
    void wordChanged();
    /// The takes, the chosen one or a cut changed.
    void takesChanged();
    void inputsChanged();
    /// A take is about to be recorded: the meter's clip latch starts afresh.
    void takeStarting();

    /// The word list shows a fresh reading of the data folder.
    void folderRead();
    /// A take has been trimmed and measured, at `index` of takes().
    void takeShown(int index);
    /// The raw take is on disk.
    void takeStored(int number);
    void saved(const QString& soundPath, bool ok);
    void undone(const QString& soundPath, bool ok);

private:
    class ExampleView;
    /// What the speech controller is playing, if anything.
    enum class Sound { None, Take, Sentence };

    void connectServer();
    void fillInputs();
    void requestScan();
    void watchFolder();
    void showFolder(FolderReport report, std::shared_ptr<const ShapeBook> shapes);
    void showWords();
    void showCurrentWord();
    /// A fresh example sentence for the current word, from the folder's shapes.
    void showExample();
    void loadTakes();
    void leaveWord();
    void setText(Text which, const QString& text);
    void showNotice(const QString& key, const QString& text);
    void showTakes(int chosen);
    void showChosenTake();
    /// The current word can be recorded: a file can be named after it.
    bool recordable() const;
    void updateControls();
    /// Playing a take is cut off; a sentence is left to finish.
    void stopTake();
    void play(std::vector<float> samples, int rate);
    bool speakingSentence() const;
    /// Starts a sentence of L or Prova: false when one is still being spoken.
    bool beginSentence();
    void moveCut(bool end, int steps);
    void setCut(TrimPoints cut);
    void storeCut(const Take& take);
    /// On the disk thread: writes the cut waiting in `file`, if any.
    void writeCut(TrimFile& file);

    void onTakeStarted();
    void onTakeEnded(const TakeDetector::Take& take);
    void onTakeReady(const QString& soundPath, Take take);

    /// Runs `work` on the disk thread, in the order asked for.
    void onDisk(std::function<void()> work);
    /// Runs `work` on this object's thread, unless the session has gone meanwhile.
    void inSession(std::function<void()> work);
    QString dataPath(const QString& relative) const;

    QString m_dataDir;
    std::unique_ptr<StudioQuestions> m_questions;
    std::unique_ptr<SoundInput> m_server;
    std::unique_ptr<Recorder> m_recorder;
    std::unique_ptr<ExampleView> m_exampleView;
    QtSpeechLoop m_loop;
    std::unique_ptr<SpeechController> m_speech;
    TakeStore m_store;
    RecordingSaver m_saver; ///< used on the disk thread only
    QThreadPool m_disk;     ///< storing takes, saving and undoing, one after another
    QThreadPool m_scanner;  ///< reading the data folder
    QFileSystemWatcher m_watcher;
    QTimer m_rescanTimer;
    MersenneRandom m_random;

    std::array<QString, TextCount> m_texts;
    WordQueue m_queue;
    std::shared_ptr<const ShapeBook> m_shapes; ///< as the last reading of the folder gave them
    std::vector<Take> m_takes;
    int m_chosen = -1;
    QString m_takesOf;  ///< sound path of the word m_takes belong to
    QString m_takeWord; ///< sound path of the word the running take is for
    int m_nextTakeId = 1;
    unsigned m_loadGeneration = 0;
    unsigned m_savesDone = 0; ///< saves and undos finished, for telling a stale reading
    bool m_scanning = false;
    bool m_rescanAfter = false;
    bool m_serverReady = false;
    bool m_captureFailed = false;
    bool m_replaceAll = false;
    bool m_startOnVoice = false;
    bool m_playEachTake = true;
    Sound m_sound = Sound::None;
    QList<Input> m_inputs;
    QByteArray m_input;
    QString m_undoable;
    QString m_exampleBefore; ///< the sentence shown before a saved recording was played
    QSet<QString> m_noticesGiven;
};

} // namespace brumlis
