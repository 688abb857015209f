#pragma once

#include "brumlis/playback/speechcontroller.h"
#include "brumlis/sentence/random.h"
#include "brumlis/studio/recorder.h"
#include "brumlis/studio/soundconnection.h"
#include "brumlis/studio/wordqueue.h"
#include "brumlis/voicetools/recordingsaver.h"
#include "brumlis/voicetools/takestore.h"
#include "brumlis/voicetools/taketrim.h"

#include <QFileSystemWatcher>
#include <QIcon>
#include <QSet>
#include <QThreadPool>
#include <QTimer>
#include <QWidget>
#include <memory>

class QCheckBox;
class QComboBox;
class QLabel;
class QListWidget;
class QPushButton;
class QTreeWidget;

namespace brumlis {

class CutView;
class LevelMeter;

/// The studio's icon, in every size it is drawn in.
QIcon studioIcon();

/// The questions the studio asks before it does something that cannot be taken back
/// silently. A seam, so that tests answer them.
class StudioQuestions {
public:
    enum class Answer { No, Yes, YesToAll };
    virtual ~StudioQuestions() = default;
    /// With `offerAll`, the user may also say yes for the rest of the session.
    virtual Answer ask(QWidget* parent, const QString& question, bool offerAll) = 0;
};

/// Asks in a modal message box, "nej" being the default.
class MessageBoxQuestions final : public StudioQuestions {
public:
    Answer ask(QWidget* parent, const QString& question, bool offerAll) override;
};

/// brumlis-studio's window: the words left to record, one at a time, the input with its
/// meter, the takes of the word and what to do with them.
///
/// The window's thread never waits for the sound server or the disk: the recorder reports
/// from the server's thread; trimming, storing and saving run one after another on a thread
/// of their own, and reading the folder on another, each reporting back when done.
class StudioWindow final : public QWidget {
    Q_OBJECT

public:
    /// The cut of a take moves by this much at a time.
    static constexpr double CutStepSeconds = 0.01;

    /// Where a take's cut is kept on disk, and a moved cut still to be written there.
    struct TrimFile;

    /// One take of the current word, as shown.
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

    /// `dataDir` holds text/ and sound/ (empty: the working directory). Without
    /// `questions`, message boxes ask. `sentencePlayer` speaks Prova's sentences, as it
    /// speaks Brumlis's (without one they are shown at once, silently).
    StudioWindow(std::unique_ptr<SoundConnection> server, QString dataDir,
                 std::unique_ptr<StudioQuestions> questions = {},
                 std::unique_ptr<SoundPlayer> sentencePlayer = {}, QWidget* parent = nullptr);
    ~StudioWindow() override;

    const WordQueue& queue() const { return m_queue; }
    const std::vector<Take>& takes() const { return m_takes; }
    int selectedTake() const;
    Recorder& recorder() { return *m_recorder; }
    /// What the window has said about the sound server or the input; empty when all is well.
    QString soundNotice() const { return m_notice; }

public Q_SLOTS:
    /// Mellanslag: starts a take, or ends the one running.
    void toggleRecording();
    /// R: a new take now.
    void newTake();
    /// P: plays the chosen take again.
    void replay();
    /// Enter: saves the chosen take as the word's recording and goes to the next word.
    void keep();
    /// S: leaves the word for later and goes to the next.
    void skip();
    /// Backsteg: back to the word before.
    void back();
    /// Ctrl+Z: takes the last save back.
    void undo();
    /// L: plays the word's saved recording, through the same engine as Brumlis.
    void playSaved();
    /// T: says a sentence with the word in it, the chosen take in the word's place, with
    /// the voice's other recordings and through the same engine as Brumlis.
    void tryInSentence();
    /// [ and ]: the chosen take's cut starts CutStepSeconds earlier or later, within the
    /// raw take and never past its end.
    void cutStartEarlier();
    void cutStartLater();
    /// { and }: the same for where it ends.
    void cutEndEarlier();
    void cutEndLater();
    /// K: the cut goes back to where the speech found in the take puts it.
    void resetCut();

Q_SIGNALS:
    /// The word list shows a fresh reading of the data folder.
    void folderRead();
    /// A take has been trimmed and measured and is on screen, at `index` of takes().
    void takeShown(int index);
    /// The raw take is on disk.
    void takeStored(int number);
    void saved(const QString& soundPath, bool ok);
    void undone(const QString& soundPath, bool ok);

protected:
    void closeEvent(QCloseEvent* event) override;

private:
    class ExampleView;

    void buildWidgets();
    void connectServer();
    void requestScan();
    void watchFolder();
    void showFolder(FolderReport report);
    void fillWordList();
    void showCurrentWord();
    void showTakes();
    void showFigures();
    void loadTakes();
    void leaveWord();
    void updateControls();
    void fillSources();
    void showNotice(const QString& key, const QString& text);
    void setStatus(const QString& text);
    void play(std::vector<float> samples, int rate);
    QString takeText(int index) const;
    void moveCut(bool end, int steps);
    void setCut(int index, TrimPoints cut);
    void storeCut(const Take& take);
    /// On the disk thread: writes the cut waiting in `file`, if any.
    void writeCut(TrimFile& file);

    void onTakeStarted();
    void onTakeEnded(const TakeDetector::Take& take);
    void onTakeReady(const QString& soundPath, Take take);

    /// Runs `work` on the disk thread, in the order asked for.
    void onDisk(std::function<void()> work);
    /// Runs `work` on the window's thread, unless the window has gone meanwhile.
    void inWindow(std::function<void()> work);

    QString m_dataDir;
    std::unique_ptr<StudioQuestions> m_questions;
    std::unique_ptr<SoundConnection> m_server;
    std::unique_ptr<Recorder> m_recorder;
    std::unique_ptr<ExampleView> m_exampleView;
    std::unique_ptr<SpeechController> m_speech; ///< Prova
    TakeStore m_store;
    RecordingSaver m_saver; ///< used on the disk thread only
    QThreadPool m_disk;     ///< storing takes, saving and undoing, one after another
    QThreadPool m_scanner;  ///< reading the data folder
    QFileSystemWatcher m_watcher;
    QTimer m_rescanTimer;
    MersenneRandom m_random;

    WordQueue m_queue;
    std::vector<Take> m_takes;
    QString m_takesOf;  ///< sound path of the word m_takes belong to
    QString m_takeWord; ///< sound path of the word the running take is for
    int m_nextTakeId = 1;
    unsigned m_loadGeneration = 0;
    unsigned m_savesDone = 0; ///< saves and undos finished, for telling a stale reading
    bool m_scanning = false;
    bool m_rescanAfter = false;
    bool m_serverReady = false;
    bool m_captureFailed = false;
    bool m_playing = false;
    bool m_replaceAll = false;
    QString m_undoable;
    QString m_exampleBefore; ///< the sentence shown before a saved recording was played
    QString m_notice;
    QSet<QString> m_noticesGiven;

    QTreeWidget* wordList;
    QLabel* progressLabel;
    QLabel* previousWord;
    QLabel* currentWord;
    QLabel* nextWord;
    QLabel* wordState;
    QLabel* exampleSentence;
    QComboBox* sourceBox;
    LevelMeter* levelMeter;
    QCheckBox* voiceStartBox;
    QCheckBox* playAfterTakeBox;
    QPushButton* recordButton;
    QListWidget* takeList;
    QLabel* takeFigures;
    CutView* cutView;
    QLabel* cutLabel;
    QPushButton* cutStartEarlierButton;
    QPushButton* cutStartLaterButton;
    QPushButton* cutEndEarlierButton;
    QPushButton* cutEndLaterButton;
    QPushButton* resetCutButton;
    QPushButton* playButton;
    QPushButton* retakeButton;
    QPushButton* keepButton;
    QPushButton* skipButton;
    QPushButton* backButton;
    QPushButton* undoButton;
    QPushButton* playSavedButton;
    QPushButton* tryButton;
    QLabel* soundNoticeLabel;
    QLabel* statusLine;
};

} // namespace brumlis
