#include "brumform.h"

#include "about.h"
#include "looks.h"
#include "messageboxsink.h"
#include "playback/soundplayer.h"
#include "windowroles.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>

namespace brumlis {

namespace {

QPushButton* makeButton(QWidget* parent, const char* name, const QString& caption, QRect where) {
    auto* button = new QPushButton(caption, parent);
    button->setObjectName(QLatin1String(name));
    button->setGeometry(where);
    button->setAutoDefault(false);
    return button;
}

QLabel* makePicture(QWidget* parent, const char* name, const QString& file,
                    const QString& accessibleName, QRect where) {
    auto* picture = new QLabel(parent);
    picture->setObjectName(QLatin1String(name));
    picture->setGeometry(where);
    picture->setPixmap(bundledPicture(file));
    picture->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    picture->setScaledContents(false);
    picture->setAccessibleName(accessibleName);
    paintPink(picture);
    return picture;
}

} // namespace

bool InputBlocker::eventFilter(QObject* watched, QEvent* event) {
    switch (event->type()) {
    case QEvent::MouseButtonPress:
    case QEvent::MouseButtonRelease:
    case QEvent::MouseButtonDblClick:
    case QEvent::NonClientAreaMouseButtonPress:
    case QEvent::NonClientAreaMouseButtonRelease:
    case QEvent::NonClientAreaMouseButtonDblClick:
    case QEvent::Wheel:
    case QEvent::KeyPress:
    case QEvent::KeyRelease:
    case QEvent::ShortcutOverride:
    case QEvent::Shortcut:
    case QEvent::ContextMenu:
    case QEvent::TouchBegin:
    case QEvent::TouchUpdate:
    case QEvent::TouchEnd:
    case QEvent::TabletPress:
    case QEvent::TabletRelease:
        return true;
    default:
        return QObject::eventFilter(watched, event);
    }
}

Brumform::Brumform(std::unique_ptr<SoundPlayer> player, QString dataDir, QWidget* parent)
    : QWidget(parent, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                          Qt::WindowSystemMenuHint | Qt::WindowCloseButtonHint)
    , m_messages(std::make_unique<MessageBoxSink>(this))
    , m_composer(dataDir, *m_messages, m_random, &m_clock)
    , m_player(player ? std::move(player) : std::make_unique<SilentPlayer>()) {
    installWindowRoles();
    setObjectName(QStringLiteral("Brumform"));
    setWindowTitle(QStringLiteral(" Brumlis"));
    setWindowIcon(brumlisIcon());
    setFixedSize(419, 190);
    paintPink(this);

    // Positions and sizes in pixels at 96 dpi; Qt scales them on denser screens.
    Image2 = makePicture(this, "Image2", QStringLiteral("banner.bmp"), QStringLiteral("Brumlis"),
                         QRect(120, 8, 292, 40));
    Image1 = makePicture(this, "Image1", QStringLiteral("portrait.bmp"), QStringLiteral("Porträtt"),
                         QRect(8, 32, 107, 150));

    smisk = new QLabel(QStringLiteral("Tryck på Generera för att slumpa fram en mening."), this);
    smisk->setObjectName(QStringLiteral("smisk"));
    smisk->setGeometry(128, 64, 281, 89);
    smisk->setFont(verdana(12, true));
    smisk->setTextFormat(Qt::PlainText);
    smisk->setWordWrap(true);
    smisk->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    paintPink(smisk);

    cmdRepeat = makeButton(this, "cmdRepeat", QStringLiteral("Repetera"), QRect(128, 160, 89, 22));
    Command1 = makeButton(this, "Command1", QStringLiteral("Generera"), QRect(224, 160, 89, 22));
    cmdInformera =
        makeButton(this, "cmdInformera", QStringLiteral("Informera"), QRect(320, 160, 89, 22));
    cmdRepeat->setEnabled(false);
    setTabOrder(cmdRepeat, Command1);
    setTabOrder(Command1, cmdInformera);

    // Every press is noted, so a click whose press came while a sentence was spoken is
    // dropped even when it arrives afterwards (an accessibility press clicks on a timer,
    // past the input blocker).
    QPushButton* const buttons[] = {cmdRepeat, Command1, cmdInformera};
    for (int i = 0; i < 3; ++i)
        connect(buttons[i], &QPushButton::pressed, this, [this, i, b = buttons[i]] {
            m_pressedWhileSpeaking[i] = m_speaking ? b : nullptr;
        });
    connect(Command1, &QPushButton::clicked, this, &Brumform::Command1_Click);
    connect(cmdRepeat, &QPushButton::clicked, this, &Brumform::cmdRepeat_Click);
    connect(cmdInformera, &QPushButton::clicked, this, &Brumform::cmdInformera_Click);

    Command1->setFocus(Qt::OtherFocusReason);

    m_dataDirNote =
        QStringLiteral("Datamapp: %1")
            .arg(QDir::toNativeSeparators(dataDir.isEmpty() ? QDir::currentPath() : dataDir));
    updateAccessibleDescription();

    // While the player waits, keep the window alive: it repaints when moved or uncovered
    // and answers the desktop, while the input blocker drops what the user does meanwhile.
    m_player->setIdleHook([] { QCoreApplication::processEvents(QEventLoop::AllEvents); });

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

Brumform::~Brumform() {
    m_player->setIdleHook({});
    delete m_about;
}

About* Brumform::aboutWindow() const {
    return m_about;
}

QString Brumform::caption() const {
    return smisk->text();
}

void Brumform::showCaption(const QString& caption) {
    smisk->setText(caption);
    smisk->repaint();
}

void Brumform::setRepeatEnabled(bool enabled) {
    cmdRepeat->setEnabled(enabled);
}

void Brumform::setGenerateEnabled(bool enabled) {
    Command1->setEnabled(enabled);
}

void Brumform::focusGenerate() {
    Command1->setFocus(Qt::OtherFocusReason);
}

void Brumform::returnFocusToGenerate() {
    if (!isVisible())
        return;
    raise();
    activateWindow();
    Command1->setFocus(Qt::OtherFocusReason);
}

bool Brumform::refuseClick(QObject* button) {
    bool refused = m_speaking;
    for (QObject*& pressed : m_pressedWhileSpeaking) {
        if (pressed && pressed == button) {
            pressed = nullptr;
            refused = true;
        }
    }
    return refused;
}

void Brumform::Command1_Click() {
    if (refuseClick(sender()))
        return;
    Command1->setEnabled(false);
    m_composer.compose(m_sentence);
    speak();
}

void Brumform::cmdRepeat_Click() {
    if (refuseClick(sender()))
        return;
    speak();
}

void Brumform::cmdInformera_Click() {
    if (refuseClick(sender()))
        return;
    if (!m_about) {
        m_about = new About(this);
        if (isVisible()) {
            // Centred over this window, assuming the About window gets a frame like ours.
            QRect frame(QPoint(), m_about->size() + frameGeometry().size() - size());
            frame.moveCenter(frameGeometry().center());
            m_about->move(frame.topLeft());
        }
    }
    m_about->show();
    m_about->raise();
    m_about->activateWindow();
}

void Brumform::speak() {
    m_speaking = true;
    m_aborted = false;
    qApp->installEventFilter(&m_inputBlocker);
    SpeakSentence(m_sentence, *this, *m_player);
    // Clicks and keys that came in while the last clip played are dropped as well,
    // not handled once the filter is gone.
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    qApp->removeEventFilter(&m_inputBlocker);
    m_speaking = false;
    noteMissingSound();
}

void Brumform::noteMissingSound() {
    if (!m_soundNotice.isEmpty())
        return;
    const QString reason = m_player->unavailableReason();
    if (reason.isEmpty())
        return;
    m_soundNotice = QStringLiteral("Inget ljud: %1").arg(reason);
    updateAccessibleDescription();
}

void Brumform::updateAccessibleDescription() {
    QStringList parts{m_dataDirNote};
    if (!m_soundNotice.isEmpty())
        parts << m_soundNotice;
    const QString description = parts.join(QStringLiteral(". "));
    setAccessibleDescription(description);
    smisk->setToolTip(description);
}

void Brumform::keyPressEvent(QKeyEvent* event) {
    // No button is the default: Enter reaches the window only when the focused button
    // leaves it alone, and then acts on that button, as Space does. Esc does nothing.
    const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
    auto* focused = qobject_cast<QPushButton*>(focusWidget());
    if (enter && focused && focused->isEnabled() && focused->window() == this) {
        focused->click();
        return;
    }
    QWidget::keyPressEvent(event);
}

void Brumform::closeEvent(QCloseEvent* event) {
    // Closing mid-sentence stops the sound at once; SpeakSentence sees the abort and
    // returns up the stack of the click handler, which is still running.
    if (m_speaking) {
        m_aborted = true;
        m_player->stop();
    }
    event->accept();
}

} // namespace brumlis
