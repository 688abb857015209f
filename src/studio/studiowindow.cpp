#include "brumlis/studio/studiowindow.h"

#include "studiopanels.h"

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QKeySequence>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QShortcut>
#include <QVBoxLayout>
#include <cmath>

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

namespace {

using Action = StudioSession::Action;
using Text = StudioSession::Text;

// What the user can do: the button for it, and the keys that press that button.
struct KeyedAction {
    Action action;
    const char* name; ///< the button's object name
    const char* caption;
    const char* keyName; ///< as the button shows it
    void (StudioSession::*slot)();
    QList<QKeySequence> keys;
    const char* accessibleName = nullptr; ///< when the caption says too little; %1: the step
    const char* otherKeyName = nullptr;   ///< the second key, for the description
};

// The key sequences of `keys`.
template <class... Key> QList<QKeySequence> keys(Key... key) {
    return {QKeySequence(key)...};
}

QList<KeyedAction> keyedActions() {
    using S = StudioSession;
    return {
        {Action::Record, "recordButton", "Spela in", "mellanslag", &S::toggleRecording,
         keys(Qt::Key_Space)},
        {Action::Listen, "playButton", "Lyssna", "P", &S::listen, keys(Qt::Key_P)},
        {Action::NewTake, "retakeButton", "Ny tagning", "R", &S::newTake, keys(Qt::Key_R)},
        {Action::Keep, "keepButton", "Behåll", "Enter", &S::keep,
         keys(Qt::Key_Return, Qt::Key_Enter)},
        {Action::Skip, "skipButton", "Hoppa över", "S", &S::skip, keys(Qt::Key_S)},
        {Action::Back, "backButton", "Tillbaka", "backsteg", &S::back, keys(Qt::Key_Backspace)},
        {Action::Undo, "undoButton", "Ångra sparandet", "Ctrl+Z", &S::undo,
         QKeySequence::keyBindings(QKeySequence::Undo)},
        {Action::ListenToSaved, "playSavedButton", "Lyssna på sparad", "L", &S::listenToSaved,
         keys(Qt::Key_L)},
        {Action::Prova, "tryButton", "Prova", "T", &S::prova, keys(Qt::Key_T)},
        // Brackets as in other sound editors; on keyboards where they need AltGr, Ctrl and
        // the arrows do the same.
        {Action::CutStartEarlier, "cutStartEarlierButton", "Start tidigare", "[",
         &S::cutStartEarlier, keys(Qt::Key_BracketLeft, Qt::CTRL | Qt::Key_Left),
         "Flytta starten %1 ms tidigare", "Ctrl+vänsterpil"},
        {Action::CutStartLater, "cutStartLaterButton", "Start senare", "]", &S::cutStartLater,
         keys(Qt::Key_BracketRight, Qt::CTRL | Qt::Key_Right), "Flytta starten %1 ms senare",
         "Ctrl+högerpil"},
        {Action::CutEndEarlier, "cutEndEarlierButton", "Slut tidigare", "{", &S::cutEndEarlier,
         keys(Qt::Key_BraceLeft, Qt::CTRL | Qt::SHIFT | Qt::Key_Left),
         "Flytta slutet %1 ms tidigare", "Ctrl+Skift+vänsterpil"},
        {Action::CutEndLater, "cutEndLaterButton", "Slut senare", "}", &S::cutEndLater,
         keys(Qt::Key_BraceRight, Qt::CTRL | Qt::SHIFT | Qt::Key_Right),
         "Flytta slutet %1 ms senare", "Ctrl+Skift+högerpil"},
        {Action::ResetCut, "resetCutButton", "Återställ klipp", "K", &S::resetCut, keys(Qt::Key_K),
         "Återställ det automatiska klippet"},
    };
}

// A button for each action, its keys window-wide so that they work whichever control has
// the focus. A key clicks its button, and a disabled button's click does nothing.
ActionButtons makeButtons(QWidget* window, StudioSession& session) {
    const int stepMs = int(std::lround(StudioSession::CutStepSeconds * 1000));
    ActionButtons buttons;
    for (const KeyedAction& a : keyedActions()) {
        const QString caption = QString::fromUtf8(a.caption);
        const QString key = QString::fromUtf8(a.keyName);
        auto* button = new QPushButton(QStringLiteral("%1 (%2)").arg(caption, key), window);
        button->setObjectName(QLatin1String(a.name));
        button->setAutoDefault(false);
        button->setAccessibleName(a.accessibleName
                                      ? QString::fromUtf8(a.accessibleName)
                                            .replace(QStringLiteral("%1"), QString::number(stepMs))
                                      : caption);
        button->setAccessibleDescription(a.otherKeyName
                                             ? QStringLiteral("Snabbtangent: %1 eller %2")
                                                   .arg(key, QString::fromUtf8(a.otherKeyName))
                                             : QStringLiteral("Snabbtangent: %1").arg(key));
        QObject::connect(button, &QPushButton::clicked, &session, a.slot);
        for (const QKeySequence& sequence : a.keys)
            QObject::connect(new QShortcut(sequence, window), &QShortcut::activated, button,
                             &QPushButton::click);
        buttons[a.action] = button;
    }
    const auto update = [buttons, &session] {
        for (const auto& [action, button] : buttons)
            button->setEnabled(session.canDo(action));
        QPushButton* record = buttons.at(Action::Record);
        const bool recording = session.isRecording();
        record->setText(recording ? QStringLiteral("Stoppa (mellanslag)")
                                  : QStringLiteral("Spela in (mellanslag)"));
        record->setAccessibleName(recording ? QStringLiteral("Stoppa tagningen")
                                            : QStringLiteral("Spela in"));
    };
    QObject::connect(&session, &StudioSession::controlsChanged, window, update);
    update();
    return buttons;
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

StudioQuestions::Answer MessageBoxQuestions::ask(const QString& question, bool offerAll) {
    QMessageBox box(QMessageBox::Question, QStringLiteral("Brumlis studio"), question,
                    QMessageBox::NoButton, m_parent);
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

StudioWindow::StudioWindow(std::unique_ptr<SoundInput> server, QString dataDir,
                           std::unique_ptr<StudioQuestions> questions,
                           std::unique_ptr<SoundPlayer> player, QWidget* parent)
    : QWidget(parent, Qt::Window)
    , m_session(std::make_unique<StudioSession>(
          std::move(server), std::move(dataDir),
          questions ? std::move(questions) : std::make_unique<MessageBoxQuestions>(this),
          std::move(player))) {
    setObjectName(QStringLiteral("StudioWindow"));
    setWindowTitle(QStringLiteral("Brumlis studio"));
    setWindowIcon(studioIcon());
    StudioSession& session = *m_session;
    const ActionButtons buttons = makeButtons(this, session);

    QLabel* notice =
        sessionLabel(this, session, Text::Notice, "soundNotice", QStringLiteral("Ljud"));
    notice->setWordWrap(true);
    notice->setStyleSheet(QStringLiteral("color: #a00000;"));
    notice->setVisible(!notice->text().isEmpty());
    connect(&session, &StudioSession::textChanged, notice, [notice](Text changed) {
        if (changed == Text::Notice)
            notice->setVisible(!notice->text().isEmpty());
    });
    QLabel* status =
        sessionLabel(this, session, Text::Status, "statusLine", QStringLiteral("Status"));
    status->setWordWrap(true);

    auto* right = new QVBoxLayout;
    right->addWidget(new WordPanel(session, this));
    right->addSpacing(8);
    right->addWidget(new InputPanel(session, buttons, this));
    right->addWidget(new TakesPanel(session, buttons, this), 1);
    right->addWidget(notice);
    right->addWidget(status);
    auto* top = new QHBoxLayout(this);
    top->addWidget(new WordListPanel(session, this), 2);
    top->addLayout(right, 3);

    // The natural way through: the word list, the input, then the takes and their buttons.
    QWidget* previous = nullptr;
    for (const char* name :
         {"wordList", "sourceBox", "voiceStartBox", "playAfterTakeBox", "recordButton", "takeList",
          "cutStartEarlierButton", "cutStartLaterButton", "cutEndEarlierButton",
          "cutEndLaterButton", "resetCutButton", "playButton", "retakeButton", "keepButton",
          "skipButton", "backButton", "undoButton", "playSavedButton", "tryButton"}) {
        QWidget* next = findChild<QWidget*>(QLatin1String(name));
        if (previous)
            setTabOrder(previous, next);
        previous = next;
    }
    resize(960, 680);
}

StudioWindow::~StudioWindow() = default;

void StudioWindow::closeEvent(QCloseEvent* event) {
    m_session->close();
    QWidget::closeEvent(event);
}

} // namespace brumlis
