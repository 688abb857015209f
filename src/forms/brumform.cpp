#include "brumlis/forms/brumform.h"

#include "about.h"
#include "brumlis/forms/layout.h"
#include "brumlis/qtbridge/text.h"
#include "looks.h"
#include "messageboxsink.h"
#include "windowroles.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QGuiApplication>
#include <QKeyEvent>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QWindow>
#include <utility>

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
    // A failed pick's message box waits for its OK while the sentence is composed.
    if (QWidget* modal = QApplication::activeModalWidget()) {
        if (auto* widget = qobject_cast<QWidget*>(watched); widget && widget->window() == modal)
            return false;
        if (auto* window = qobject_cast<QWindow*>(watched);
            window && window == modal->windowHandle())
            return false;
    }
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
    , m_composer(corePath(dataDir), *m_messages, m_random, &m_clock)
    , m_speech(*this, std::move(player), m_loop) {
    installWindowRoles();
    setObjectName(QStringLiteral("Brumform"));
    setWindowTitle(QStringLiteral(" Brumlis"));
    setWindowIcon(brumlisIcon());
    setFixedSize(layout::MainWindow);
    paintPink(this);

    // Positions and sizes in pixels at 96 dpi; Qt scales them on denser screens.
    Image2 = makePicture(this, "Image2", QStringLiteral("banner.bmp"), QStringLiteral("Brumlis"),
                         QRect(120, 8, 292, 40));
    Image1 = makePicture(this, "Image1", QStringLiteral("portrait.bmp"), QStringLiteral("Porträtt"),
                         QRect(8, 32, 107, 150));

    smisk = new QLabel(QStringLiteral("Tryck på Generera för att slumpa fram en mening."), this);
    smisk->setObjectName(QStringLiteral("smisk"));
    smisk->setGeometry(layout::SentenceLabel);
    smisk->setFont(verdana(12, true));
    smisk->setTextFormat(Qt::PlainText);
    smisk->setWordWrap(true);
    smisk->setAlignment(Qt::AlignLeft | Qt::AlignTop);
    paintPink(smisk);

    cmdRepeat = makeButton(this, "cmdRepeat", QStringLiteral("Repetera"), layout::RepeatButton);
    Command1 = makeButton(this, "Command1", QStringLiteral("Generera"), layout::GenerateButton);
    cmdInformera =
        makeButton(this, "cmdInformera", QStringLiteral("Informera"), layout::AboutButton);
    cmdRepeat->setEnabled(false);
    setTabOrder(cmdRepeat, Command1);
    setTabOrder(Command1, cmdInformera);

    // Every press is noted, so that a click whose press came while a sentence was composed
    // or spoken is dropped even when it arrives afterwards (an accessibility press clicks on
    // a timer, past the input blocker).
    using Press = SpeechController::Press;
    const std::pair<QPushButton*, Press> buttons[] = {
        {cmdRepeat, Press::Repeat}, {Command1, Press::Generate}, {cmdInformera, Press::About}};
    for (const auto& [button, press] : buttons)
        connect(button, &QPushButton::pressed, this,
                [this, press = press] { m_speech.notePress(press); });
    connect(Command1, &QPushButton::clicked, this, &Brumform::Command1_Click);
    connect(cmdRepeat, &QPushButton::clicked, this, &Brumform::cmdRepeat_Click);
    connect(cmdInformera, &QPushButton::clicked, this, &Brumform::cmdInformera_Click);

    // Closing the window mid-sentence also ends the picks still to be made.
    m_composer.setStopCheck([this] { return m_speech.state() == SpeechController::State::Closed; });

    Command1->setFocus(Qt::OtherFocusReason);

    m_dataDirNote =
        QStringLiteral("Datamapp: %1")
            .arg(QDir::toNativeSeparators(dataDir.isEmpty() ? QDir::currentPath() : dataDir));
    updateAccessibleDescription();

    if (QScreen* screen = QGuiApplication::primaryScreen())
        move(screen->availableGeometry().center() - rect().center());
}

Brumform::~Brumform() {
    qApp->removeEventFilter(&m_inputBlocker);
    delete m_about;
}

void Brumform::sentenceStarted() {
    smisk->setText(QString());
    smisk->repaint();
}

void Brumform::wordShown(int, const std::u16string& word) {
    smisk->setText(smisk->text() + qt(word) + u' ');
    smisk->repaint();
}

void Brumform::sentenceEnded() {
    cmdRepeat->setEnabled(true);
    Command1->setEnabled(true);
    Command1->setFocus(Qt::OtherFocusReason);
    noteMissingSound();
}

void Brumform::busyChanged(bool busy) {
    // Meanwhile the window repaints, can be moved and closed, and takes no other input.
    if (busy)
        qApp->installEventFilter(&m_inputBlocker);
    else
        qApp->removeEventFilter(&m_inputBlocker);
}

void Brumform::returnFocusToGenerate() {
    if (!isVisible())
        return;
    raise();
    activateWindow();
    Command1->setFocus(Qt::OtherFocusReason);
}

void Brumform::Command1_Click() {
    if (!m_speech.take(SpeechController::Press::Generate))
        return;
    Command1->setEnabled(false);
    m_composer.compose(m_sentence);
    // After a failed pick's message box, the window may have been closed meanwhile: then
    // nothing is spoken.
    m_speech.SpeakSentence(m_sentence);
}

void Brumform::cmdRepeat_Click() {
    if (!m_speech.take(SpeechController::Press::Repeat))
        return;
    m_speech.SpeakSentence(m_sentence);
}

void Brumform::cmdInformera_Click() {
    if (!m_speech.take(SpeechController::Press::About))
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

void Brumform::noteMissingSound() {
    if (!m_soundNotice.isEmpty())
        return;
    const QString reason = qt(m_speech.player().unavailableReason());
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
    // Closing mid-sentence stops the sound at once; a failed pick's message box goes with
    // the window, and the picks still to be made are not made.
    m_messages->abort();
    m_speech.close();
    event->accept();
}

} // namespace brumlis
