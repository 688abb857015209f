#include "brumlis/studio/studiowindow.h"

#include "brumlis/audio/wavfile.h"
#include "brumlis/voicetools/voicemaker.h"
#include "cutview.h"
#include "examplesentence.h"
#include "levelmeter.h"

#include <QCheckBox>
#include <QCloseEvent>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QListWidget>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QTreeWidget>
#include <QVBoxLayout>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <mutex>

// The resources live in a static library, so they are registered by hand, outside any
// namespace.
static void initStudioResources() {
    static const bool done = [] {
        Q_INIT_RESOURCE(studio);
        return true;
    }();
    (void)done;
}

namespace brumlis {

// Where a take's cut is kept, and the cut still to be written there. The disk thread writes
// whichever cut is newest when it gets to it, so a key held down writes the file a few
// times rather than at every step; a cut moved before the take itself is on disk is written
// right after it.
struct StudioWindow::TrimFile {
    std::mutex mutex;
    std::optional<StoredTake> stored; ///< none until the take is on disk
    std::optional<TrimPoints> waiting;
    bool queued = false; ///< a write is on the disk thread's list
};

namespace {

// After a take has been played back, its sound may still ring in the room for a moment.
constexpr int ListenAgainAfterPlaybackMs = 300;
// Folders are read again this long after the last change seen, so an editor's save of
// several steps is read once.
constexpr int RescanDelayMs = 250;

QString figure(double value, int decimals = 1) {
    return std::isfinite(value) ? QString::number(value, 'f', decimals) : QStringLiteral("-inf");
}

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption,
                        const QString& key) {
    auto* button = new QPushButton(QStringLiteral("%1 (%2)").arg(caption, key), parent);
    button->setObjectName(QLatin1String(name));
    button->setAccessibleName(caption);
    button->setAccessibleDescription(QStringLiteral("Snabbtangent: %1").arg(key));
    button->setAutoDefault(false);
    return button;
}

QLabel* makeLabel(QWidget* parent, const char* name, const QString& accessibleName,
                  qreal scale = 1.0) {
    auto* label = new QLabel(parent);
    label->setObjectName(QLatin1String(name));
    label->setTextFormat(Qt::PlainText);
    label->setAccessibleName(accessibleName);
    if (scale != 1.0) {
        QFont font = label->font();
        font.setPointSizeF(font.pointSizeF() * scale);
        label->setFont(font);
    }
    return label;
}

// Seconds as the cut is shown: to the hundredth, which is the step it moves by.
QString cutSeconds(std::int64_t frames, int rate) {
    return QString::number(double(frames) / rate, 'f', 2).replace(u'.', u',');
}

// The figures and warnings of `take` as it is cut now.
void measure(StudioWindow::Take& take, std::optional<double> median) {
    take.figures = measureTake(take.raw, take.trim, take.rate);
    take.warnings = takeWarnings(take.figures, median);
    if (!take.voiced)
        take.warnings.prepend(QStringLiteral("ingen röst hittad"));
}

// A take with its cut and figures: cut where `kept` says (a stored take's cut may have been
// moved), else where its speech is found.
StudioWindow::Take analyse(std::vector<float> raw, int rate, std::optional<double> median,
                           std::optional<TrimPoints> kept = std::nullopt) {
    StudioWindow::Take take;
    take.rate = rate;
    const std::optional<TrimPoints> found = findTrim(raw, rate);
    take.voiced = found.has_value();
    take.autoTrim = found.value_or(TrimPoints{0, std::int64_t(raw.size())});
    take.trim = kept.value_or(take.autoTrim);
    take.outline = CutView::outline(raw, rate);
    take.raw = std::move(raw);
    measure(take, median);
    take.trimFile = std::make_shared<StudioWindow::TrimFile>();
    return take;
}

} // namespace

QIcon studioIcon() {
    initStudioResources();
    QIcon icon;
    for (const int size : {16, 24, 32, 48, 64, 128, 256})
        icon.addFile(QStringLiteral(":/studio/images/icons/hicolor/%1x%1/apps/brumlis-studio.png")
                         .arg(size));
    return icon;
}

StudioQuestions::Answer MessageBoxQuestions::ask(QWidget* parent, const QString& question,
                                                 bool offerAll) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Brumlis studio"), question,
                    QMessageBox::NoButton, parent);
    QPushButton* yes = box.addButton(QStringLiteral("Ja"), QMessageBox::YesRole);
    QPushButton* all =
        offerAll ? box.addButton(QStringLiteral("Ja till alla"), QMessageBox::YesRole) : nullptr;
    QPushButton* no = box.addButton(QStringLiteral("Nej"), QMessageBox::NoRole);
    box.setDefaultButton(no);
    box.setEscapeButton(no);
    box.exec();
    if (box.clickedButton() == yes)
        return Answer::Yes;
    if (all && box.clickedButton() == all)
        return Answer::YesToAll;
    return Answer::No;
}

// Prova's sentence goes on screen word by word in the example's label, as Brumlis shows its
// sentences; the end of it gives Prova back.
class StudioWindow::ExampleView final : public SentenceView {
public:
    explicit ExampleView(StudioWindow& window)
        : m_window(window) {}
    QString caption() const override { return m_window.exampleSentence->text(); }
    void showCaption(const QString& caption) override {
        m_window.exampleSentence->setText(caption);
        m_window.exampleSentence->repaint();
    }
    void setRepeatEnabled(bool) override {}
    void setGenerateEnabled(bool) override { m_window.updateControls(); }
    void focusGenerate() override {}

private:
    StudioWindow& m_window;
};

StudioWindow::StudioWindow(std::unique_ptr<SoundConnection> server, QString dataDir,
                           std::unique_ptr<StudioQuestions> questions,
                           std::unique_ptr<SoundPlayer> sentencePlayer, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_dataDir(std::move(dataDir))
    , m_questions(questions ? std::move(questions) : std::make_unique<MessageBoxQuestions>())
    , m_server(std::move(server))
    , m_recorder(std::make_unique<Recorder>(*m_server))
    , m_exampleView(std::make_unique<ExampleView>(*this))
    , m_speech(std::make_unique<SpeechController>(*m_exampleView, std::move(sentencePlayer)))
    , m_store(m_dataDir)
    , m_saver(m_dataDir)
    , m_random(std::uint64_t(std::chrono::system_clock::now().time_since_epoch().count())) {
    setObjectName(QStringLiteral("StudioWindow"));
    setWindowTitle(QStringLiteral("Brumlis studio"));
    setWindowIcon(studioIcon());
    m_disk.setMaxThreadCount(1);
    m_disk.setExpiryTimeout(-1);
    m_scanner.setMaxThreadCount(1);
    buildWidgets();

    m_rescanTimer.setSingleShot(true);
    m_rescanTimer.setInterval(RescanDelayMs);
    connect(&m_rescanTimer, &QTimer::timeout, this, &StudioWindow::requestScan);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, &m_rescanTimer,
            qOverload<>(&QTimer::start));
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_rescanTimer,
            qOverload<>(&QTimer::start));

    connect(m_speech.get(), &SpeechController::busyChanged, this, [this](bool busy) {
        // The sentence is heard in the room: it must not start a take of its own.
        if (busy) {
            m_server->stopPlaying();
            m_playing = false;
            m_recorder->setListening(false);
        } else {
            QTimer::singleShot(ListenAgainAfterPlaybackMs, this, [this] {
                if (!m_playing && !m_speech->busy())
                    m_recorder->setListening(true);
            });
        }
        updateControls();
    });

    // After a saved recording was heard, the word's sentence comes back in its place.
    connect(m_speech.get(), &SpeechController::sentenceEnded, this, [this] {
        if (!m_exampleBefore.isNull())
            exampleSentence->setText(std::exchange(m_exampleBefore, QString()));
    });

    connectServer();
    setStatus(
        QStringLiteral("Läser %1 …")
            .arg(QDir::toNativeSeparators(m_dataDir.isEmpty() ? QDir::currentPath() : m_dataDir)));
    requestScan();
    updateControls();
}

StudioWindow::~StudioWindow() {
    m_speech->close();
    // Disk work refers to this window; it is short, and a save is not cut off half-way.
    m_disk.waitForDone();
    m_scanner.waitForDone();
    m_recorder.reset();
}

void StudioWindow::buildWidgets() {
    wordList = new QTreeWidget(this);
    wordList->setObjectName(QStringLiteral("wordList"));
    wordList->setAccessibleName(QStringLiteral("Ord att spela in"));
    wordList->setColumnCount(2);
    wordList->setHeaderLabels({QStringLiteral("Ord"), QStringLiteral("Läge")});
    wordList->setRootIsDecorated(false);
    wordList->setUniformRowHeights(true);
    wordList->header()->setSectionResizeMode(0, QHeaderView::Stretch);
    wordList->header()->setSectionResizeMode(1, QHeaderView::ResizeToContents);
    wordList->header()->setStretchLastSection(false);
    // Clicks and the arrow keys alike make the word under them the one to record.
    connect(wordList, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
        const int index = wordList->indexOfTopLevelItem(item);
        if (index < 0 || index == m_queue.current())
            return;
        leaveWord();
        m_queue.select(index);
        showCurrentWord();
    });
    progressLabel = makeLabel(this, "progressLabel", QStringLiteral("Inspelade ord"));

    previousWord = makeLabel(this, "previousWord", QStringLiteral("Föregående ord"));
    currentWord = makeLabel(this, "currentWord", QStringLiteral("Ord att säga"), 3.0);
    nextWord = makeLabel(this, "nextWord", QStringLiteral("Nästa ord"));
    previousWord->setAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    nextWord->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
    for (QLabel* label : {previousWord, nextWord}) {
        label->setEnabled(false); // greyed: they are only there to show the way
        label->setWordWrap(true);
    }
    currentWord->setWordWrap(true);
    currentWord->setAlignment(Qt::AlignCenter);
    QFont bold = currentWord->font();
    bold.setBold(true);
    currentWord->setFont(bold);
    wordState = makeLabel(this, "wordState", QStringLiteral("Ordets inspelning"));
    wordState->setAlignment(Qt::AlignCenter);
    exampleSentence = makeLabel(this, "exampleSentence", QStringLiteral("Exempelmening"), 1.3);
    exampleSentence->setAlignment(Qt::AlignCenter);
    exampleSentence->setWordWrap(true);

    sourceBox = new QComboBox(this);
    sourceBox->setObjectName(QStringLiteral("sourceBox"));
    sourceBox->setAccessibleName(QStringLiteral("Ingång"));
    connect(sourceBox, &QComboBox::activated, this, [this] {
        m_captureFailed = false;
        m_recorder->listenTo(sourceBox->currentData().toByteArray());
        updateControls();
    });
    auto* sourceLabel = new QLabel(QStringLiteral("&Ingång:"), this);
    sourceLabel->setBuddy(sourceBox);
    levelMeter = new LevelMeter(this);
    levelMeter->setObjectName(QStringLiteral("levelMeter"));
    levelMeter->setAccessibleName(QStringLiteral("Nivåmätare"));
    levelMeter->setToolTip(QStringLiteral("Topp och RMS i dBFS; rött fält: överstyrt (klicka "
                                          "för att släcka)"));
    connect(m_recorder.get(), &Recorder::level, levelMeter, &LevelMeter::setLevel);

    voiceStartBox = new QCheckBox(QStringLiteral("S&tarta på rösten"), this);
    voiceStartBox->setObjectName(QStringLiteral("voiceStartBox"));
    voiceStartBox->setAccessibleName(QStringLiteral("Starta tagningen på rösten"));
    connect(voiceStartBox, &QCheckBox::toggled, this, [this] { updateControls(); });
    playAfterTakeBox = new QCheckBox(QStringLiteral("Spela &upp varje tagning"), this);
    playAfterTakeBox->setObjectName(QStringLiteral("playAfterTakeBox"));
    playAfterTakeBox->setAccessibleName(QStringLiteral("Spela upp varje tagning"));
    playAfterTakeBox->setChecked(true);
    recordButton =
        makeButton(this, "recordButton", QStringLiteral("Spela in"), QStringLiteral("mellanslag"));

    takeList = new QListWidget(this);
    takeList->setObjectName(QStringLiteral("takeList"));
    takeList->setAccessibleName(QStringLiteral("Tagningar"));
    connect(takeList, &QListWidget::currentRowChanged, this, [this] { showFigures(); });
    takeFigures = makeLabel(this, "takeFigures", QStringLiteral("Tagningens nivåer"));
    takeFigures->setWordWrap(true);

    cutView = new CutView(this);
    cutView->setObjectName(QStringLiteral("cutView"));
    cutView->setAccessibleName(QStringLiteral("Tagningens klipp"));
    cutView->setToolTip(QStringLiteral("Tagningens nivå; det ljusa är det som behålls"));
    cutLabel = makeLabel(this, "cutLabel", QStringLiteral("Klipp"));
    const struct {
        QPushButton*& button;
        const char* name;
        const char* caption;
        const char* key;
        const char* accessibleName;
        const char* otherKey;
    } cutButtons[] = {
        {cutStartEarlierButton, "cutStartEarlierButton", "Start tidigare", "[",
         "Flytta starten %1 ms tidigare", "Ctrl+vänsterpil"},
        {cutStartLaterButton, "cutStartLaterButton", "Start senare", "]",
         "Flytta starten %1 ms senare", "Ctrl+högerpil"},
        {cutEndEarlierButton, "cutEndEarlierButton", "Slut tidigare", "{",
         "Flytta slutet %1 ms tidigare", "Ctrl+Skift+vänsterpil"},
        {cutEndLaterButton, "cutEndLaterButton", "Slut senare", "}", "Flytta slutet %1 ms senare",
         "Ctrl+Skift+högerpil"},
    };
    const int stepMs = int(std::lround(CutStepSeconds * 1000));
    for (const auto& b : cutButtons) {
        b.button = makeButton(this, b.name, QString::fromUtf8(b.caption), QString::fromUtf8(b.key));
        b.button->setAccessibleName(QString::fromUtf8(b.accessibleName).arg(stepMs));
        b.button->setAccessibleDescription(
            QStringLiteral("Snabbtangent: %1 eller %2")
                .arg(QString::fromUtf8(b.key), QString::fromUtf8(b.otherKey)));
    }
    resetCutButton =
        makeButton(this, "resetCutButton", QStringLiteral("Återställ klipp"), QStringLiteral("K"));
    resetCutButton->setAccessibleName(QStringLiteral("Återställ det automatiska klippet"));

    playButton = makeButton(this, "playButton", QStringLiteral("Lyssna"), QStringLiteral("P"));
    retakeButton =
        makeButton(this, "retakeButton", QStringLiteral("Ny tagning"), QStringLiteral("R"));
    keepButton = makeButton(this, "keepButton", QStringLiteral("Behåll"), QStringLiteral("Enter"));
    skipButton = makeButton(this, "skipButton", QStringLiteral("Hoppa över"), QStringLiteral("S"));
    backButton =
        makeButton(this, "backButton", QStringLiteral("Tillbaka"), QStringLiteral("backsteg"));
    undoButton =
        makeButton(this, "undoButton", QStringLiteral("Ångra sparandet"), QStringLiteral("Ctrl+Z"));
    playSavedButton = makeButton(this, "playSavedButton", QStringLiteral("Lyssna på sparad"),
                                 QStringLiteral("L"));
    tryButton = makeButton(this, "tryButton", QStringLiteral("Prova"), QStringLiteral("T"));

    soundNoticeLabel = makeLabel(this, "soundNotice", QStringLiteral("Ljud"));
    soundNoticeLabel->setWordWrap(true);
    soundNoticeLabel->setStyleSheet(QStringLiteral("color: #a00000;"));
    soundNoticeLabel->hide();
    statusLine = makeLabel(this, "statusLine", QStringLiteral("Status"));
    statusLine->setWordWrap(true);

    const struct {
        QPushButton* button;
        void (StudioWindow::*slot)();
        QList<QKeySequence> keys;
    } actions[] = {
        {recordButton, &StudioWindow::toggleRecording, {QKeySequence(Qt::Key_Space)}},
        {retakeButton, &StudioWindow::newTake, {QKeySequence(Qt::Key_R)}},
        {playButton, &StudioWindow::replay, {QKeySequence(Qt::Key_P)}},
        {keepButton,
         &StudioWindow::keep,
         {QKeySequence(Qt::Key_Return), QKeySequence(Qt::Key_Enter)}},
        {skipButton, &StudioWindow::skip, {QKeySequence(Qt::Key_S)}},
        {backButton, &StudioWindow::back, {QKeySequence(Qt::Key_Backspace)}},
        {undoButton, &StudioWindow::undo, {QKeySequence::keyBindings(QKeySequence::Undo)}},
        {playSavedButton, &StudioWindow::playSaved, {QKeySequence(Qt::Key_L)}},
        {tryButton, &StudioWindow::tryInSentence, {QKeySequence(Qt::Key_T)}},
        // Brackets as in other sound editors; on keyboards where they need AltGr, Ctrl and
        // the arrows do the same.
        {cutStartEarlierButton,
         &StudioWindow::cutStartEarlier,
         {QKeySequence(Qt::Key_BracketLeft), QKeySequence(Qt::CTRL | Qt::Key_Left)}},
        {cutStartLaterButton,
         &StudioWindow::cutStartLater,
         {QKeySequence(Qt::Key_BracketRight), QKeySequence(Qt::CTRL | Qt::Key_Right)}},
        {cutEndEarlierButton,
         &StudioWindow::cutEndEarlier,
         {QKeySequence(Qt::Key_BraceLeft), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Left)}},
        {cutEndLaterButton,
         &StudioWindow::cutEndLater,
         {QKeySequence(Qt::Key_BraceRight), QKeySequence(Qt::CTRL | Qt::SHIFT | Qt::Key_Right)}},
        {resetCutButton, &StudioWindow::resetCut, {QKeySequence(Qt::Key_K)}},
    };
    for (const auto& action : actions) {
        connect(action.button, &QPushButton::clicked, this, action.slot);
        for (const QKeySequence& key : action.keys) {
            // Window-wide, so that a key works whichever control has the focus; a disabled
            // button's key does nothing, as the button would.
            auto* shortcut = new QShortcut(key, this);
            connect(shortcut, &QShortcut::activated, action.button, [button = action.button] {
                if (button->isEnabled())
                    button->click();
            });
        }
    }

    auto* words = new QHBoxLayout;
    words->addWidget(previousWord, 1);
    words->addWidget(currentWord, 3);
    words->addWidget(nextWord, 1);
    auto* wordBox = new QVBoxLayout;
    wordBox->addLayout(words);
    wordBox->addWidget(wordState);
    wordBox->addWidget(exampleSentence);

    auto* input = new QGridLayout;
    input->addWidget(sourceLabel, 0, 0);
    input->addWidget(sourceBox, 0, 1, 1, 2);
    input->addWidget(levelMeter, 1, 0, 1, 3);
    input->addWidget(voiceStartBox, 2, 0, 1, 2);
    input->addWidget(playAfterTakeBox, 2, 2);
    input->addWidget(recordButton, 3, 0, 1, 3);

    auto* takeButtons = new QGridLayout;
    QPushButton* const order[] = {playButton, retakeButton, keepButton,      skipButton,
                                  backButton, undoButton,   playSavedButton, tryButton};
    for (int i = 0; i < int(std::size(order)); ++i)
        takeButtons->addWidget(order[i], i / 4, i % 4);

    auto* cut = new QGridLayout;
    cut->addWidget(cutView, 0, 0, 1, 3);
    cut->addWidget(cutLabel, 0, 3, 1, 2);
    QPushButton* const cutOrder[] = {cutStartEarlierButton, cutStartLaterButton,
                                     cutEndEarlierButton, cutEndLaterButton, resetCutButton};
    for (int i = 0; i < int(std::size(cutOrder)); ++i)
        cut->addWidget(cutOrder[i], 1, i);

    auto* right = new QVBoxLayout;
    right->addLayout(wordBox);
    right->addSpacing(8);
    right->addLayout(input);
    right->addWidget(takeList, 1);
    right->addWidget(takeFigures);
    right->addLayout(cut);
    right->addLayout(takeButtons);
    right->addWidget(soundNoticeLabel);
    right->addWidget(statusLine);

    auto* left = new QVBoxLayout;
    left->addWidget(wordList, 1);
    left->addWidget(progressLabel);

    auto* top = new QHBoxLayout(this);
    top->addLayout(left, 2);
    top->addLayout(right, 3);

    // The natural way through: the word list, the input, then the takes and their buttons.
    setTabOrder(wordList, sourceBox);
    setTabOrder(sourceBox, voiceStartBox);
    setTabOrder(voiceStartBox, playAfterTakeBox);
    setTabOrder(playAfterTakeBox, recordButton);
    setTabOrder(recordButton, takeList);
    QWidget* previous = takeList;
    for (QPushButton* button : cutOrder) {
        setTabOrder(previous, button);
        previous = button;
    }
    for (QPushButton* button : order) {
        setTabOrder(previous, button);
        previous = button;
    }
    resize(960, 680);
}

void StudioWindow::connectServer() {
    connect(m_server.get(), &SoundConnection::ready, this, [this] {
        m_serverReady = true;
        m_recorder->listenTo(sourceBox->currentData().toByteArray());
        updateControls();
    });
    connect(m_server.get(), &SoundConnection::unavailable, this, [this](const QString& why) {
        m_serverReady = false;
        m_recorder->stopListening();
        showNotice(QStringLiteral("server"),
                   QStringLiteral("Ingen ljudserver (%1): inget kan spelas in eller spelas upp. "
                                  "Orden och deras inspelningar går att gå igenom ändå.")
                       .arg(why));
        updateControls();
    });
    connect(m_server.get(), &SoundConnection::sourcesChanged, this, &StudioWindow::fillSources);
    connect(m_server.get(), &SoundConnection::captureFailed, this, [this](const QString& why) {
        m_captureFailed = true;
        showNotice(QStringLiteral("capture:") + why,
                   QStringLiteral("Ingången kan inte användas (%1): inget kan spelas in, men "
                                  "sparade inspelningar kan spelas upp.")
                       .arg(why));
        updateControls();
    });
    connect(m_server.get(), &SoundConnection::playbackFinished, this, [this] {
        m_playing = false;
        QTimer::singleShot(ListenAgainAfterPlaybackMs, this, [this] {
            if (!m_playing)
                m_recorder->setListening(true);
        });
    });
    connect(m_recorder.get(), &Recorder::takeStarted, this, &StudioWindow::onTakeStarted);
    connect(m_recorder.get(), &Recorder::takeEnded, this, &StudioWindow::onTakeEnded);
    m_server->open();
}

void StudioWindow::fillSources() {
    const QList<InputSource> sources = m_server->sources();
    const QByteArray chosen = sourceBox->currentData().toByteArray();
    const QByteArray fallback = m_server->defaultSource();
    QString defaultName = QString::fromUtf8(fallback);
    for (const InputSource& source : sources)
        if (source.name == fallback)
            defaultName = source.description;
    sourceBox->clear();
    sourceBox->addItem(QStringLiteral("Standardingången (%1)").arg(defaultName), QByteArray());
    for (const InputSource& source : sources)
        sourceBox->addItem(source.monitor
                               ? QStringLiteral("%1 (hör en utgång)").arg(source.description)
                               : source.description,
                           source.name);
    const int again = sourceBox->findData(chosen);
    sourceBox->setCurrentIndex(again >= 0 ? again : 0);
    if (m_serverReady && sources.isEmpty())
        showNotice(QStringLiteral("no-input"),
                   QStringLiteral("Ljudservern har ingen ingång: inget kan spelas in, men sparade "
                                  "inspelningar kan spelas upp."));
    updateControls();
}

void StudioWindow::showNotice(const QString& key, const QString& text) {
    // Each trouble is told once, however often the server repeats it.
    if (m_noticesGiven.contains(key))
        return;
    m_noticesGiven.insert(key);
    m_notice = text;
    soundNoticeLabel->setText(text);
    soundNoticeLabel->show();
}

void StudioWindow::setStatus(const QString& text) {
    statusLine->setText(text);
}

void StudioWindow::onDisk(std::function<void()> work) {
    m_disk.start(std::move(work));
}

void StudioWindow::inWindow(std::function<void()> work) {
    // Queued to this object: dropped if the window is gone before it runs.
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

void StudioWindow::requestScan() {
    if (m_scanning) {
        m_rescanAfter = true;
        return;
    }
    m_scanning = true;
    // On a thread of its own: reading a large voice takes a while, and a save must not wait
    // behind it.
    m_scanner.start([this, dataDir = m_dataDir, saves = m_savesDone] {
        auto report = std::make_shared<FolderReport>(inspectFolder(dataDir));
        inWindow([this, report, saves] {
            m_scanning = false;
            // A save or an undo that ended meanwhile may be missing from this reading: it is
            // read again rather than shown a word as it was before.
            const bool stale = saves != m_savesDone;
            if (!stale)
                showFolder(std::move(*report));
            if (stale || m_rescanAfter) {
                m_rescanAfter = false;
                requestScan();
            }
        });
    });
}

void StudioWindow::watchFolder() {
    const QString root = m_dataDir.isEmpty() ? QStringLiteral(".") : m_dataDir;
    // An editor that saves by renaming leaves a watch on the old file: watch afresh.
    if (const QStringList files = m_watcher.files(); !files.isEmpty())
        m_watcher.removePaths(files);
    if (const QStringList dirs = m_watcher.directories(); !dirs.isEmpty())
        m_watcher.removePaths(dirs);
    QStringList paths;
    for (const QString& folder : {QStringLiteral("/text"), QStringLiteral("/sound")})
        if (QFileInfo(root + folder).isDir())
            paths << root + folder;
    for (const ListReport& list : m_queue.report().lists)
        if (QFileInfo::exists(root + u'/' + list.path))
            paths << root + u'/' + list.path;
    if (QFileInfo(root).isDir())
        paths << root;
    if (!paths.isEmpty())
        m_watcher.addPaths(paths);
}

void StudioWindow::showFolder(FolderReport report) {
    const QString before =
        m_queue.currentEntry() ? m_queue.currentEntry()->word.soundPath : QString();
    m_queue.update(std::move(report));
    watchFolder();
    fillWordList();
    const QString after =
        m_queue.currentEntry() ? m_queue.currentEntry()->word.soundPath : QString();
    if (before != after || m_takesOf != after)
        showCurrentWord();
    else
        updateControls();
    QStringList unread;
    for (const ListReport& list : m_queue.report().lists)
        if (list.status != ListStatus::Ok)
            unread << list.path + u' ' + problemText(list.status);
    if (!unread.isEmpty())
        setStatus(unread.join(QStringLiteral("; ")));
    else if (statusLine->text().startsWith(QStringLiteral("Läser ")))
        setStatus({});
    Q_EMIT folderRead();
}

void StudioWindow::fillWordList() {
    QSignalBlocker block(wordList);
    wordList->clear();
    QList<QTreeWidgetItem*> items;
    for (const WordQueue::Entry& entry : m_queue.entries()) {
        QString state = wordStateName(entry.state);
        if (entry.skipped)
            state += QStringLiteral(", överhoppad");
        items << new QTreeWidgetItem({entry.word.text, state});
    }
    wordList->addTopLevelItems(items);
    if (QTreeWidgetItem* item = wordList->topLevelItem(m_queue.current()))
        wordList->setCurrentItem(item);
    progressLabel->setText(
        QStringLiteral("%1 av %2 inspelade").arg(m_queue.recordedCount()).arg(m_queue.size()));
}

void StudioWindow::leaveWord() {
    if (m_recorder->isRecording())
        m_recorder->stopTake();
}

void StudioWindow::showCurrentWord() {
    const WordQueue::Entry* entry = m_queue.currentEntry();
    const WordQueue::Entry* previous = m_queue.at(m_queue.current() - 1);
    const WordQueue::Entry* following = m_queue.at(m_queue.current() + 1);
    previousWord->setText(previous ? QStringLiteral("← %1").arg(previous->word.text) : QString());
    nextWord->setText(following ? QStringLiteral("%1 →").arg(following->word.text) : QString());
    currentWord->setText(entry ? entry->word.text : QStringLiteral("Inga ord"));
    if (entry) {
        QString state = wordStateName(entry->state);
        if (entry->state == WordState::LooseName || entry->state == WordState::Unplayable)
            state += QStringLiteral(": ") + entry->word.foundName;
        if (const QString why =
                entry->word.isPhrase() ? QString() : fileNameProblem(entry->word.text);
            !why.isEmpty())
            state += QStringLiteral(" (kan inte spelas in: ordet %1)").arg(why);
        wordState->setText(state.left(1).toUpper() + state.mid(1));
        const ExampleSentence example = sentenceWith(entry->word, m_dataDir, m_random);
        exampleSentence->setText(example.wordSlot >= 0 ? QStringLiteral("”%1”").arg(example.text())
                                                       : QString());
    } else {
        wordState->clear();
        exampleSentence->clear();
    }
    if (QTreeWidgetItem* item = wordList->topLevelItem(m_queue.current())) {
        QSignalBlocker block(wordList);
        wordList->setCurrentItem(item);
        wordList->scrollToItem(item);
    }
    m_takes.clear();
    m_takesOf = entry ? entry->word.soundPath : QString();
    showTakes();
    loadTakes();
    updateControls();
}

void StudioWindow::loadTakes() {
    const unsigned generation = ++m_loadGeneration;
    if (m_takesOf.isEmpty())
        return;
    const std::optional<double> median = m_queue.report().medianLufs;
    onDisk([this, generation, soundPath = m_takesOf, median] {
        auto loaded = std::make_shared<std::vector<Take>>();
        for (const StoredTake& stored : m_store.takes(soundPath)) {
            std::optional<RawTake> raw = m_store.load(stored);
            if (!raw)
                continue;
            Take take = analyse(std::move(raw->samples), raw->rate, median, stored.trim);
            take.number = stored.number;
            take.trimFile->stored = stored;
            loaded->push_back(std::move(take));
        }
        inWindow([this, generation, loaded] {
            if (generation != m_loadGeneration)
                return;
            // Takes made while these were read are on disk too, and so among them.
            m_takes = std::move(*loaded);
            for (Take& take : m_takes)
                take.id = m_nextTakeId++;
            showTakes();
            updateControls();
        });
    });
}

void StudioWindow::showTakes() {
    QSignalBlocker block(takeList);
    const int keep = takeList->currentRow();
    takeList->clear();
    for (std::size_t i = 0; i < m_takes.size(); ++i)
        takeList->addItem(takeText(int(i)));
    if (!m_takes.empty())
        takeList->setCurrentRow(keep >= 0 && keep < int(m_takes.size()) ? keep
                                                                        : int(m_takes.size()) - 1);
    showFigures();
}

QString StudioWindow::takeText(int index) const {
    const Take& take = m_takes[std::size_t(index)];
    QString text = QStringLiteral("Tagning %1: %2 LUFS, topp %3 dBFS, %4 s")
                       .arg(take.number > 0 ? take.number : index + 1)
                       .arg(figure(take.figures.clip.loudnessLufs))
                       .arg(figure(take.figures.clip.peakDbfs))
                       .arg(figure(take.figures.clip.seconds(), 2));
    if (!take.warnings.isEmpty())
        text += QStringLiteral(" – ") + take.warnings.join(QStringLiteral(", "));
    return text;
}

void StudioWindow::showFigures() {
    const int index = selectedTake();
    if (index < 0) {
        takeFigures->setText(m_takesOf.isEmpty() ? QString()
                                                 : QStringLiteral("Inga tagningar av ordet än."));
        cutLabel->clear();
        cutView->setTake({}, 0, {});
        cutView->setAccessibleDescription({});
        return;
    }
    const Take& take = m_takes[std::size_t(index)];
    const std::optional<double> median = m_queue.report().medianLufs;
    QString text =
        QStringLiteral("Ljudstyrka %1 LUFS (rösten: %2 LUFS), topp %3 dBFS, brusgolv "
                       "%4 dBFS, %5.")
            .arg(figure(take.figures.clip.loudnessLufs),
                 median ? figure(*median) : QStringLiteral("-"), figure(take.figures.clip.peakDbfs),
                 figure(take.figures.noiseFloorDbfs, 0),
                 take.figures.clipped ? QStringLiteral("överstyrd")
                                      : QStringLiteral("inte överstyrd"));
    if (!take.warnings.isEmpty())
        text += QStringLiteral(" Obs: ") + take.warnings.join(QStringLiteral(", ")) + u'.';
    takeFigures->setText(text);

    const QString cut =
        QStringLiteral("Klipp %1–%2 s av %3 s, %4")
            .arg(cutSeconds(take.trim.start, take.rate), cutSeconds(take.trim.end, take.rate),
                 cutSeconds(std::int64_t(take.raw.size()), take.rate),
                 take.trim == take.autoTrim ? QStringLiteral("automatiskt")
                                            : QStringLiteral("flyttat"));
    cutLabel->setText(cut);
    cutView->setTake(take.outline, std::int64_t(take.raw.size()), take.trim);
    cutView->setAccessibleDescription(cut);
}

int StudioWindow::selectedTake() const {
    const int row = takeList->currentRow();
    return row >= 0 && row < int(m_takes.size()) ? row : -1;
}

void StudioWindow::updateControls() {
    const WordQueue::Entry* entry = m_queue.currentEntry();
    const bool recordable =
        entry && (entry->word.isPhrase() || fileNameProblem(entry->word.text).isEmpty());
    const bool inputReady = m_serverReady && !m_captureFailed && !m_server->sources().isEmpty();
    const bool recording = m_recorder->isRecording();
    // While Prova speaks, nothing else is heard or recorded, as in Brumlis.
    const bool speaking = m_speech->busy();
    recordButton->setEnabled(recordable && inputReady && !speaking);
    recordButton->setText(recording ? QStringLiteral("Stoppa (mellanslag)")
                                    : QStringLiteral("Spela in (mellanslag)"));
    recordButton->setAccessibleName(recording ? QStringLiteral("Stoppa tagningen")
                                              : QStringLiteral("Spela in"));
    retakeButton->setEnabled(recordable && inputReady && !recording && !speaking);
    voiceStartBox->setEnabled(recordable && inputReady);
    m_recorder->setArmed(recordable && inputReady && voiceStartBox->isChecked());
    const bool haveTake = selectedTake() >= 0;
    playButton->setEnabled(haveTake && m_serverReady && !speaking);
    keepButton->setEnabled(haveTake && recordable && !recording);
    skipButton->setEnabled(entry != nullptr);
    backButton->setEnabled(m_queue.current() > 0);
    undoButton->setEnabled(!m_undoable.isEmpty());
    playSavedButton->setEnabled(entry && entry->word.speakable() && !recording && !speaking);
    tryButton->setEnabled(entry && !recording && !speaking &&
                          (haveTake || entry->word.speakable()));
    // Left enabled at the ends of the take too, where a press says why nothing moved.
    for (QPushButton* button : {cutStartEarlierButton, cutStartLaterButton, cutEndEarlierButton,
                                cutEndLaterButton, resetCutButton})
        button->setEnabled(haveTake);
}

void StudioWindow::toggleRecording() {
    if (m_recorder->isRecording()) {
        m_recorder->stopTake();
        return;
    }
    newTake();
}

void StudioWindow::newTake() {
    if (!recordButton->isEnabled() || m_recorder->isRecording())
        return;
    m_server->stopPlaying();
    m_playing = false;
    levelMeter->resetClip();
    m_recorder->startTake();
}

void StudioWindow::onTakeStarted() {
    // The take is for the word on screen when it began, even if the user moves on.
    m_takeWord = m_takesOf;
    m_server->stopPlaying();
    m_playing = false;
    levelMeter->resetClip();
    setStatus(QStringLiteral("Spelar in ”%1” …").arg(currentWord->text()));
    updateControls();
}

void StudioWindow::onTakeEnded(const TakeDetector::Take& ended) {
    const QString soundPath = m_takeWord.isEmpty() ? m_takesOf : m_takeWord;
    m_takeWord.clear();
    updateControls();
    if (soundPath.isEmpty())
        return;
    const std::optional<double> median = m_queue.report().medianLufs;
    const int id = m_nextTakeId++;
    auto raw = std::make_shared<std::vector<float>>(ended.samples);
    onDisk([this, soundPath, median, id, raw, rate = ended.rate] {
        auto take = std::make_shared<Take>(analyse(std::move(*raw), rate, median));
        take->id = id;
        // Shown first: storing it needs a flush to disk, which the user need not wait for.
        inWindow([this, soundPath, take] { onTakeReady(soundPath, *take); });
        QString why;
        const std::optional<StoredTake> stored =
            m_store.add(soundPath, take->raw, take->rate, take->trim, &why);
        if (stored) {
            {
                const std::lock_guard lock(take->trimFile->mutex);
                take->trimFile->stored = *stored;
            }
            // The user may have moved the cut while the take was being stored.
            writeCut(*take->trimFile);
        }
        inWindow([this, soundPath, id, stored, why] {
            if (!stored) {
                setStatus(QStringLiteral("Tagningen kunde inte sparas i %1: %2")
                              .arg(QLatin1String(TakesFolder), why));
                return;
            }
            for (Take& take : m_takes)
                if (take.id == id && m_takesOf == soundPath) {
                    take.number = stored->number;
                    showTakes();
                }
            Q_EMIT takeStored(stored->number);
        });
    });
}

void StudioWindow::onTakeReady(const QString& soundPath, Take take) {
    if (soundPath != m_takesOf)
        return;
    const bool clipped = take.figures.clipped;
    const bool voiced = !take.warnings.contains(QStringLiteral("ingen röst hittad"));
    std::vector<float> clip = applyTrim(take.raw, take.trim, take.rate);
    const int rate = take.rate;
    m_takes.push_back(std::move(take));
    showTakes();
    {
        QSignalBlocker block(takeList);
        takeList->setCurrentRow(int(m_takes.size()) - 1);
    }
    showFigures();
    updateControls();
    setStatus(clipped ? QStringLiteral("Tagningen är överstyrd: gör en ny (R), eller behåll den "
                                       "ändå (Enter).")
              : voiced ? QStringLiteral("Behåll med Enter, gör en ny med R, lyssna med P.")
                       : QStringLiteral("Ingen röst i tagningen."));
    if (playAfterTakeBox->isChecked() && voiced)
        play(std::move(clip), rate);
    Q_EMIT takeShown(int(m_takes.size()) - 1);
}

void StudioWindow::play(std::vector<float> samples, int rate) {
    if (!m_serverReady || samples.empty())
        return;
    m_playing = true;
    m_recorder->setListening(false);
    m_server->play(std::move(samples), rate);
}

void StudioWindow::replay() {
    const int index = selectedTake();
    if (index < 0)
        return;
    const Take& take = m_takes[std::size_t(index)];
    play(applyTrim(take.raw, take.trim, take.rate), take.rate);
}

void StudioWindow::playSaved() {
    const WordQueue::Entry* entry = m_queue.currentEntry();
    if (!entry || !entry->word.speakable() || m_recorder->isRecording() ||
        !m_speech->take(SpeechController::Press::Generate))
        return;
    // Through Brumlis's own engine: heard exactly as Brumlis plays it, and heard even where
    // the studio's own connection to a sound server failed.
    SentenceBuffer word;
    word.WordText(0) = entry->word.text;
    word.SoundFile(0) = entry->word.soundPath;
    m_exampleBefore = exampleSentence->text();
    m_speech->SpeakSentence(word);
}

void StudioWindow::keep() {
    const WordQueue::Entry* entry = m_queue.currentEntry();
    const int index = selectedTake();
    if (!entry || index < 0 || m_recorder->isRecording())
        return;
    const int takeId = m_takes[std::size_t(index)].id;
    const bool clipped = m_takes[std::size_t(index)].figures.clipped;
    const QString word = entry->word.text;
    if (clipped &&
        m_questions->ask(this,
                         QStringLiteral("Tagningen av ”%1” är överstyrd och låter trasig. Behåll "
                                        "den ändå?")
                             .arg(word),
                         false) == StudioQuestions::Answer::No) {
        setStatus(QStringLiteral("Den överstyrda tagningen behölls inte."));
        return;
    }
    if (entry->state != WordState::Missing && !m_replaceAll) {
        const StudioQuestions::Answer answer =
            m_questions->ask(this,
                             QStringLiteral("”%1” har redan en inspelning (%2, %3). Ersätta den?")
                                 .arg(word, entry->word.foundName, wordStateName(entry->state)),
                             true);
        if (answer == StudioQuestions::Answer::No) {
            setStatus(QStringLiteral("Inspelningen av ”%1” är kvar som den var.").arg(word));
            return;
        }
        m_replaceAll = answer == StudioQuestions::Answer::YesToAll;
    }
    // The questions ran a loop of their own: the word and the take may be gone since.
    entry = m_queue.currentEntry();
    const auto chosen = std::find_if(m_takes.begin(), m_takes.end(),
                                     [takeId](const Take& t) { return t.id == takeId; });
    if (!entry || entry->word.text != word || chosen == m_takes.end())
        return;
    const Take& take = *chosen;
    const QString soundPath = entry->word.soundPath;
    const QByteArray replacing =
        entry->word.match != SoundResolver::Match::None ? entry->word.file : QByteArray();
    const double target = targetLoudness(m_queue.report().recordings, replacing);
    auto clip = std::make_shared<std::vector<float>>(applyTrim(take.raw, take.trim, take.rate));
    const int rate = take.rate;
    const QString savedFile =
        (m_dataDir.isEmpty() ? QStringLiteral(".") : m_dataDir) + u'/' + soundPath;
    onDisk([this, soundPath, replacing, target, clip, rate, savedFile] {
        const QByteArray wav = makeRecording(std::move(*clip), rate, target, StudioSoftware);
        QString why = QStringLiteral("kan inte kodas");
        const bool ok = !wav.isEmpty() && m_saver.save(soundPath, wav, replacing, &why);
        inWindow([this, soundPath, ok, why, savedFile] {
            ++m_savesDone;
            if (ok) {
                m_queue.markRecorded(soundPath, QFile::encodeName(savedFile));
                m_undoable = soundPath;
                setStatus(QStringLiteral("Sparade %1.").arg(soundPath));
                fillWordList();
            } else {
                setStatus(QStringLiteral("Kunde inte spara %1: %2").arg(soundPath, why));
            }
            updateControls();
            Q_EMIT saved(soundPath, ok);
        });
    });
    leaveWord();
    m_server->stopPlaying();
    if (m_queue.next())
        showCurrentWord();
    else
        updateControls();
}

void StudioWindow::skip() {
    leaveWord();
    m_queue.skip();
    fillWordList();
    showCurrentWord();
}

void StudioWindow::back() {
    leaveWord();
    if (m_queue.back())
        showCurrentWord();
}

void StudioWindow::undo() {
    if (m_undoable.isEmpty())
        return;
    const QString soundPath = m_undoable;
    m_undoable.clear();
    updateControls();
    onDisk([this, soundPath] {
        QString why;
        const bool ok = m_saver.undo(&why);
        inWindow([this, soundPath, ok, why] {
            ++m_savesDone;
            setStatus(ok ? QStringLiteral("Ångrade: %1 är som förut.").arg(soundPath)
                         : QStringLiteral("Kunde inte ångra %1: %2").arg(soundPath, why));
            requestScan();
            Q_EMIT undone(soundPath, ok);
        });
    });
}

void StudioWindow::tryInSentence() {
    const WordQueue::Entry* entry = m_queue.currentEntry();
    if (!entry || m_recorder->isRecording())
        return;
    auto example =
        std::make_shared<ExampleSentence>(sentenceWith(entry->word, m_dataDir, m_random));
    if (example->wordSlot < 0 || !m_speech->take(SpeechController::Press::Generate))
        return;
    m_exampleBefore = QString();
    const int index = selectedTake();
    if (index < 0) {
        m_speech->SpeakSentence(example->buffer);
        return;
    }
    // The chosen take as it would be saved, where the engine finds it: beside the word's raw
    // takes, under a name that is not a take's.
    const QString relative =
        QStringLiteral("%1/%2/prova.wav")
            .arg(QLatin1String(TakesFolder), TakeStore::wordFolder(entry->word.soundPath));
    example->buffer.SoundFile(example->wordSlot) = relative;
    const Take& take = m_takes[std::size_t(index)];
    auto clip = std::make_shared<std::vector<float>>(applyTrim(take.raw, take.trim, take.rate));
    const double target = targetLoudness(m_queue.report().recordings, entry->word.file);
    const QString file = (m_dataDir.isEmpty() ? QStringLiteral(".") : m_dataDir) + u'/' + relative;
    onDisk([this, example, clip, rate = take.rate, target, file] {
        QString why = QStringLiteral("kan inte kodas");
        const QByteArray wav = makeRecording(std::move(*clip), rate, target, StudioSoftware);
        const bool written = !wav.isEmpty() && QDir().mkpath(QFileInfo(file).absolutePath()) &&
                             writeFileAtomically(file, wav, &why);
        inWindow([this, example, written, why] {
            if (!written)
                setStatus(QStringLiteral("Tagningen kunde inte provas: %1").arg(why));
            // Spoken all the same, so Prova is given back: a missing clip is heard as silence.
            m_speech->SpeakSentence(example->buffer);
        });
    });
}

void StudioWindow::cutStartEarlier() {
    moveCut(false, -1);
}

void StudioWindow::cutStartLater() {
    moveCut(false, 1);
}

void StudioWindow::cutEndEarlier() {
    moveCut(true, -1);
}

void StudioWindow::cutEndLater() {
    moveCut(true, 1);
}

void StudioWindow::moveCut(bool end, int steps) {
    const int index = selectedTake();
    if (index < 0)
        return;
    const Take& take = m_takes[std::size_t(index)];
    const auto step = std::max<std::int64_t>(1, std::llround(CutStepSeconds * take.rate));
    const auto frames = std::int64_t(take.raw.size());
    // Within the raw take, and at least a step long: an empty clip cannot be heard or kept.
    TrimPoints cut = take.trim;
    if (end)
        cut.end = std::clamp(cut.end + steps * step, std::min(cut.end, cut.start + step), frames);
    else
        cut.start = std::clamp<std::int64_t>(cut.start + steps * step, 0,
                                             std::max(cut.start, cut.end - step));
    if (cut == take.trim) {
        const int stepMs = int(std::lround(CutStepSeconds * 1000));
        setStatus(steps < 0 && !end ? QStringLiteral("Klippet börjar redan där tagningen börjar.")
                  : steps > 0 && end
                      ? QStringLiteral("Klippet slutar redan där tagningen slutar.")
                      : QStringLiteral("Klippet kan inte bli kortare än %1 ms.").arg(stepMs));
        return;
    }
    setCut(index, cut);
}

void StudioWindow::resetCut() {
    const int index = selectedTake();
    if (index < 0)
        return;
    const Take& take = m_takes[std::size_t(index)];
    if (take.trim == take.autoTrim) {
        setStatus(QStringLiteral("Klippet är redan det automatiska."));
        return;
    }
    setCut(index, take.autoTrim);
}

void StudioWindow::setCut(int index, TrimPoints cut) {
    Take& take = m_takes[std::size_t(index)];
    take.trim = cut;
    // Measuring a take of a second or two is quick enough to follow every key press.
    measure(take, m_queue.report().medianLufs);
    storeCut(take);
    if (QListWidgetItem* item = takeList->item(index))
        item->setText(takeText(index));
    showFigures();
    setStatus(QStringLiteral("Lyssna på det nya klippet med P, behåll det med Enter."));
}

void StudioWindow::storeCut(const Take& take) {
    const std::shared_ptr<TrimFile> file = take.trimFile;
    {
        const std::lock_guard lock(file->mutex);
        file->waiting = take.trim;
        // A write already on the list takes this cut with it; a take not yet stored gets
        // it right after it is.
        if (file->queued || !file->stored)
            return;
        file->queued = true;
    }
    onDisk([this, file] { writeCut(*file); });
}

void StudioWindow::writeCut(TrimFile& file) {
    StoredTake stored;
    TrimPoints cut;
    {
        const std::lock_guard lock(file.mutex);
        file.queued = false;
        if (!file.stored || !file.waiting)
            return;
        stored = *file.stored;
        cut = *std::exchange(file.waiting, std::nullopt);
    }
    QString why;
    if (!m_store.setTrim(stored, cut, &why))
        inWindow([this, number = stored.number, why] {
            setStatus(QStringLiteral("Klippet av tagning %1 kunde inte sparas: %2")
                          .arg(QString::number(number), why));
        });
}

void StudioWindow::closeEvent(QCloseEvent* event) {
    m_speech->close();
    QWidget::closeEvent(event);
}

} // namespace brumlis
