#include "brumlis/studio/studiosession.h"

#include "brumlis/playback/speechcontroller.h"
#include "brumlis/qtbridge/text.h"
#include "brumlis/sentence/sentencebuffer.h"
#include "brumlis/sentence/shapes.h"
#include "brumlis/studio/examplesentence.h"
#include "take.h"

#include <QDir>
#include <QFileInfo>
#include <chrono>

namespace brumlis {

namespace {

// After something has been played, its sound may still ring in the room for a moment.
constexpr int ListenAgainAfterPlaybackMs = 300;
// Folders are read again this long after the last change seen, so an editor's save of
// several steps is read once.
constexpr int RescanDelayMs = 250;

} // namespace

// Prova's sentence goes on screen word by word in the example, as Brumlis shows its
// sentences, and the end of it gives Prova back. A take being listened to is no sentence:
// the example stays as it is meanwhile.
class StudioSession::ExampleView final : public SentenceView {
public:
    explicit ExampleView(StudioSession& session)
        : m_session(session) {}
    void sentenceStarted() override {
        if (m_session.m_sound != Sound::Take)
            m_session.setText(Text::Example, QString());
    }
    void wordShown(int, const std::u16string& word) override {
        if (m_session.m_sound != Sound::Take)
            m_session.setText(Text::Example, m_session.text(Text::Example) + qt(word) + u' ');
    }
    void sentenceEnded() override {
        m_session.updateControls();
        // After a saved recording was heard, the word's sentence comes back in its place.
        if (!m_session.m_exampleBefore.isNull())
            m_session.setText(Text::Example, std::exchange(m_session.m_exampleBefore, QString()));
    }
    void busyChanged(bool busy) override {
        // What is heard in the room must not start a take of its own.
        if (busy) {
            m_session.m_recorder->setListening(false);
        } else {
            m_session.m_sound = Sound::None;
            QTimer::singleShot(ListenAgainAfterPlaybackMs, &m_session, [session = &m_session] {
                if (!session->m_speech->busy())
                    session->m_recorder->setListening(true);
            });
        }
        m_session.updateControls();
    }

private:
    StudioSession& m_session;
};

StudioSession::StudioSession(std::unique_ptr<SoundInput> server, QString dataDir,
                             std::unique_ptr<StudioQuestions> questions,
                             std::unique_ptr<SoundPlayer> player, QObject* parent)
    : QObject(parent)
    , m_dataDir(std::move(dataDir))
    , m_questions(std::move(questions))
    , m_server(std::move(server))
    , m_recorder(std::make_unique<Recorder>(*m_server))
    , m_exampleView(std::make_unique<ExampleView>(*this))
    , m_speech(std::make_unique<SpeechController>(*m_exampleView, std::move(player), m_loop))
    , m_store(m_dataDir)
    , m_saver(m_dataDir)
    , m_random(std::uint64_t(std::chrono::system_clock::now().time_since_epoch().count()))
    , m_shapes(std::make_shared<const ShapeBook>(builtinShapes())) {
    Q_ASSERT(m_questions);
    m_disk.setMaxThreadCount(1);
    m_disk.setExpiryTimeout(-1);
    m_scanner.setMaxThreadCount(1);

    m_rescanTimer.setSingleShot(true);
    m_rescanTimer.setInterval(RescanDelayMs);
    connect(&m_rescanTimer, &QTimer::timeout, this, &StudioSession::requestScan);
    connect(&m_watcher, &QFileSystemWatcher::fileChanged, &m_rescanTimer,
            qOverload<>(&QTimer::start));
    connect(&m_watcher, &QFileSystemWatcher::directoryChanged, &m_rescanTimer,
            qOverload<>(&QTimer::start));

    connectServer();
    setText(Text::Status, QStringLiteral("Läser %1 …")
                              .arg(QDir::toNativeSeparators(
                                  m_dataDir.isEmpty() ? QDir::currentPath() : m_dataDir)));
    requestScan();
    updateControls();
}

StudioSession::~StudioSession() {
    m_speech->close();
    // Disk work refers to this session; it is short, and a save is not cut off half-way.
    m_disk.waitForDone();
    m_scanner.waitForDone();
    m_recorder.reset();
}

void StudioSession::close() {
    m_speech->close();
}

void StudioSession::connectServer() {
    connect(m_server.get(), &SoundInput::ready, this, [this] {
        m_serverReady = true;
        m_captureFailed = false;
        // Back after it went away: recording and playing work again, as the notice said
        // they did not.
        if (m_noticesGiven.remove(QStringLiteral("server"))) {
            setText(Text::Notice, QString());
            setText(Text::Status, QStringLiteral("Ljudservern är tillbaka."));
        }
        m_recorder->listenTo(m_input);
        updateControls();
    });
    connect(m_server.get(), &SoundInput::unavailable, this, [this](const QString& why) {
        m_serverReady = false;
        m_recorder->stopListening();
        showNotice(QStringLiteral("server"),
                   QStringLiteral("Ingen ljudserver (%1): inget kan spelas in eller spelas upp. "
                                  "Orden och deras inspelningar går att gå igenom ändå.")
                       .arg(why));
        updateControls();
    });
    connect(m_server.get(), &SoundInput::sourcesChanged, this, &StudioSession::fillInputs);
    connect(m_server.get(), &SoundInput::captureFailed, this, [this](const QString& why) {
        m_captureFailed = true;
        showNotice(QStringLiteral("capture:") + why,
                   QStringLiteral("Ingången kan inte användas (%1): inget kan spelas in, men "
                                  "sparade inspelningar kan spelas upp.")
                       .arg(why));
        updateControls();
    });
    connect(m_recorder.get(), &Recorder::takeStarted, this, &StudioSession::onTakeStarted);
    connect(m_recorder.get(), &Recorder::takeEnded, this, &StudioSession::onTakeEnded);
    m_server->open();
}

void StudioSession::fillInputs() {
    const QList<InputSource> sources = m_server->sources();
    const QByteArray fallback = m_server->defaultSource();
    QString defaultName = QString::fromUtf8(fallback);
    for (const InputSource& source : sources)
        if (source.name == fallback)
            defaultName = source.description;
    m_inputs = {{QStringLiteral("Standardingången (%1)").arg(defaultName), QByteArray()}};
    bool chosenThere = false;
    for (const InputSource& source : sources) {
        m_inputs.append({source.monitor
                             ? QStringLiteral("%1 (hör en utgång)").arg(source.description)
                             : source.description,
                         source.name});
        chosenThere = chosenThere || source.name == m_input;
    }
    if (!chosenThere)
        m_input.clear();
    Q_EMIT inputsChanged();
    if (m_serverReady && sources.isEmpty())
        showNotice(QStringLiteral("no-input"),
                   QStringLiteral("Ljudservern har ingen ingång: inget kan spelas in, men sparade "
                                  "inspelningar kan spelas upp."));
    updateControls();
}

void StudioSession::chooseInput(const QByteArray& name) {
    m_input = name;
    m_captureFailed = false;
    m_recorder->listenTo(name);
    updateControls();
}

void StudioSession::setStartOnVoice(bool on) {
    m_startOnVoice = on;
    updateControls();
}

void StudioSession::setPlayEachTake(bool on) {
    m_playEachTake = on;
}

void StudioSession::setText(Text which, const QString& text) {
    QString& held = m_texts[std::size_t(which)];
    if (held == text)
        return;
    held = text;
    Q_EMIT textChanged(which, text);
}

void StudioSession::showNotice(const QString& key, const QString& text) {
    // Each trouble is told once, however often the server repeats it.
    if (m_noticesGiven.contains(key))
        return;
    m_noticesGiven.insert(key);
    setText(Text::Notice, text);
}

void StudioSession::onDisk(std::function<void()> work) {
    m_disk.start(std::move(work));
}

void StudioSession::inSession(std::function<void()> work) {
    // Queued to this object: dropped if the session is gone before it runs.
    QMetaObject::invokeMethod(this, std::move(work), Qt::QueuedConnection);
}

QString StudioSession::dataPath(const QString& relative) const {
    return (m_dataDir.isEmpty() ? QStringLiteral(".") : m_dataDir) + u'/' + relative;
}

void StudioSession::requestScan() {
    if (m_scanning) {
        m_rescanAfter = true;
        return;
    }
    m_scanning = true;
    // On a thread of its own: reading a large voice takes a while, and a save must not wait
    // behind it.
    m_scanner.start([this, dataDir = m_dataDir, saves = m_savesDone] {
        auto report = std::make_shared<FolderReport>(inspectFolder(dataDir));
        // The example sentences are made from these until the folder is read again.
        auto shapes = std::make_shared<const ShapeBook>(readShapeFile(corePath(dataDir)).book());
        inSession([this, report, shapes, saves] {
            m_scanning = false;
            // A save or an undo that ended meanwhile may be missing from this reading: it is
            // read again rather than shown a word as it was before.
            const bool stale = saves != m_savesDone;
            if (!stale)
                showFolder(std::move(*report), shapes);
            if (stale || m_rescanAfter) {
                m_rescanAfter = false;
                requestScan();
            }
        });
    });
}

void StudioSession::watchFolder() {
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
    // The folder's watch sees the shapes come and go, but not an edit in place.
    if (const QString shapes = root + u'/' + QString::fromUtf16(ShapeFileName);
        QFileInfo::exists(shapes))
        paths << shapes;
    if (QFileInfo(root).isDir())
        paths << root;
    if (!paths.isEmpty())
        m_watcher.addPaths(paths);
}

void StudioSession::showFolder(FolderReport report, std::shared_ptr<const ShapeBook> shapes) {
    const QString before =
        m_queue.currentEntry() ? m_queue.currentEntry()->word.soundPath : QString();
    const bool reshaped = !sameShapes(*m_shapes, *shapes);
    m_shapes = std::move(shapes);
    m_queue.update(std::move(report));
    watchFolder();
    showWords();
    const QString after =
        m_queue.currentEntry() ? m_queue.currentEntry()->word.soundPath : QString();
    if (before != after || m_takesOf != after) {
        showCurrentWord();
    } else {
        // The word's sentence follows edited shapes; otherwise it stays as it was.
        if (reshaped)
            showExample();
        updateControls();
    }
    QStringList unread;
    for (const ListReport& list : m_queue.report().lists)
        if (list.status != ListStatus::Ok)
            unread << list.path + u' ' + qt(problemText(list.status));
    if (!unread.isEmpty())
        setText(Text::Status, unread.join(QStringLiteral("; ")));
    else if (text(Text::Status).startsWith(QStringLiteral("Läser ")))
        setText(Text::Status, {});
    Q_EMIT folderRead();
}

void StudioSession::showWords() {
    setText(Text::Progress,
            QStringLiteral("%1 av %2 inspelade").arg(m_queue.recordedCount()).arg(m_queue.size()));
    Q_EMIT wordsChanged();
}

void StudioSession::leaveWord() {
    if (m_recorder->isRecording())
        m_recorder->stopTake();
}

void StudioSession::showCurrentWord() {
    const WordQueue::Entry* entry = m_queue.currentEntry();
    const WordQueue::Entry* previous = m_queue.at(m_queue.current() - 1);
    const WordQueue::Entry* following = m_queue.at(m_queue.current() + 1);
    setText(Text::PreviousWord,
            previous ? QStringLiteral("← %1").arg(previous->word.text) : QString());
    setText(Text::NextWord,
            following ? QStringLiteral("%1 →").arg(following->word.text) : QString());
    setText(Text::CurrentWord, entry ? entry->word.text : QStringLiteral("Inga ord"));
    if (entry) {
        QString state = wordStateName(entry->state);
        if (entry->state == WordState::LooseName || entry->state == WordState::Unplayable)
            state += QStringLiteral(": ") + entry->word.foundName;
        if (const QString why =
                entry->word.isPhrase() ? QString() : fileNameProblem(entry->word.text);
            !why.isEmpty())
            state += QStringLiteral(" (kan inte spelas in: ordet %1)").arg(why);
        setText(Text::WordState, state.left(1).toUpper() + state.mid(1));
    } else {
        setText(Text::WordState, {});
    }
    showExample();
    Q_EMIT wordChanged();
    m_takes.clear();
    m_takesOf = entry ? entry->word.soundPath : QString();
    showTakes(-1);
    loadTakes();
    updateControls();
}

void StudioSession::showExample() {
    const WordQueue::Entry* entry = m_queue.currentEntry();
    const ExampleSentence example =
        entry ? sentenceWith(entry->word, *m_shapes, m_dataDir, m_random) : ExampleSentence();
    setText(Text::Example,
            example.wordSlot >= 0 ? QStringLiteral("”%1”").arg(example.text()) : QString());
}

void StudioSession::chooseWord(int index) {
    if (index < 0 || index >= m_queue.size() || index == m_queue.current())
        return;
    leaveWord();
    m_queue.select(index);
    showCurrentWord();
}

void StudioSession::skip() {
    leaveWord();
    m_queue.skip();
    showWords();
    showCurrentWord();
}

void StudioSession::back() {
    leaveWord();
    if (m_queue.back())
        showCurrentWord();
}

bool StudioSession::recordable() const {
    const WordQueue::Entry* entry = m_queue.currentEntry();
    return entry && (entry->word.isPhrase() || fileNameProblem(entry->word.text).isEmpty());
}

bool StudioSession::inputUsable() const {
    return recordable() && m_serverReady && !m_captureFailed && !m_server->sources().isEmpty();
}

bool StudioSession::canDo(Action action) const {
    const WordQueue::Entry* entry = m_queue.currentEntry();
    const bool recording = m_recorder->isRecording();
    // While a sentence is spoken, nothing else is heard or recorded, as in Brumlis; a take
    // being listened to gives way to whatever comes next.
    const bool speaking = speakingSentence();
    const bool haveTake = m_chosen >= 0;
    switch (action) {
    case Action::Record:
        return inputUsable() && !speaking;
    case Action::NewTake:
        return inputUsable() && !recording && !speaking;
    case Action::Listen:
        return haveTake && m_serverReady && !speaking;
    case Action::Keep:
        return haveTake && recordable() && !recording;
    case Action::Skip:
        return entry != nullptr;
    case Action::Back:
        return m_queue.current() > 0;
    case Action::Undo:
        return !m_undoable.isEmpty();
    case Action::ListenToSaved:
        return entry && entry->word.speakable() && !recording && !speaking;
    case Action::Prova:
        return entry && !recording && !speaking && (haveTake || entry->word.speakable());
    case Action::CutStartEarlier:
    case Action::CutStartLater:
    case Action::CutEndEarlier:
    case Action::CutEndLater:
    case Action::ResetCut:
        // Also at the ends of the take, where a press says why nothing moved.
        return haveTake;
    }
    return false;
}

void StudioSession::updateControls() {
    m_recorder->setArmed(inputUsable() && m_startOnVoice);
    Q_EMIT controlsChanged();
}

bool StudioSession::speakingSentence() const {
    return m_speech->busy() && m_sound == Sound::Sentence;
}

void StudioSession::stopTake() {
    if (m_sound == Sound::Take)
        m_speech->stop();
}

void StudioSession::play(std::vector<float> samples, int rate) {
    if (!m_serverReady || samples.empty() || speakingSentence())
        return;
    m_sound = Sound::Take;
    m_speech->speak({std::u16string()}, {Clip::held(std::move(samples), rate)});
}

bool StudioSession::beginSentence() {
    stopTake();
    m_sound = Sound::Sentence;
    return m_speech->take(SpeechController::Press::Generate);
}

void StudioSession::listenToSaved() {
    const WordQueue::Entry* entry = m_queue.currentEntry();
    if (!entry || !entry->word.speakable() || m_recorder->isRecording() || !beginSentence())
        return;
    SentenceBuffer word;
    word.WordText(0) = core(entry->word.text);
    word.SoundFile(0) = core(entry->word.soundPath);
    m_exampleBefore = text(Text::Example);
    m_speech->SpeakSentence(word);
}

} // namespace brumlis
