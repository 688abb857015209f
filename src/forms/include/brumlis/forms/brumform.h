#pragma once

#include "brumlis/playback/speechcontroller.h"
#include "brumlis/qtbridge/qtspeechloop.h"
#include "brumlis/sentence/composer.h"
#include "brumlis/sentence/random.h"
#include "brumlis/sentence/sentencebuffer.h"

#include <QPointer>
#include <QWidget>
#include <memory>

class QLabel;
class QPushButton;

namespace brumlis {

class About;
class MessageBoxSink;
class SoundPlayer;

/// Eats user input (mouse buttons, wheel, keys, shortcuts, touch) while it is installed
/// as an application event filter, so nothing typed or clicked during a sentence is
/// acted on, neither then nor afterwards. A modal message box still takes its input.
class InputBlocker final : public QObject {
public:
    using QObject::QObject;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
};

/// The main window: the sentence label, the three buttons and the two pictures.
/// It owns the sentence buffer, composes on Generera and speaks through `player`; its
/// speech controller decides what every press does while a sentence is composed or spoken.
class Brumform final : public QWidget, public SentenceView {
    Q_OBJECT

public:
    /// `dataDir` holds text/ (empty: the working directory, as the program uses it). The
    /// window names it in its accessible description and the label's tooltip.
    explicit Brumform(std::unique_ptr<SoundPlayer> player, QString dataDir = {},
                      QWidget* parent = nullptr);
    ~Brumform() override;

    /// Activates this window and puts the focus on Generera; does nothing once the
    /// window has been closed.
    void returnFocusToGenerate();

    // SentenceView
    void sentenceStarted() override;
    void wordShown(int slot, const std::u16string& word) override;
    void sentenceEnded() override;
    void busyChanged(bool busy) override;

public Q_SLOTS:
    /// Generera: composes a new sentence and speaks it.
    void Command1_Click();
    /// Repetera: speaks the last sentence again, unchanged.
    void cmdRepeat_Click();
    /// Informera: shows the About window, or brings the open one to the front.
    void cmdInformera_Click();

protected:
    void keyPressEvent(QKeyEvent* event) override;
    void closeEvent(QCloseEvent* event) override;

    /// "Inget ljud: <reason>" once no sound can be heard, else empty.
    QString soundNotice() const { return m_soundNotice; }

private:
    /// Says once, on the label's tooltip and in the window's accessible description, that
    /// the sentences are not heard.
    void noteMissingSound();
    /// Joins the parts of the window's accessible description.
    void updateAccessibleDescription();

    QLabel* Image2;
    QLabel* Image1;
    QLabel* smisk;
    QPushButton* cmdRepeat;
    QPushButton* Command1;
    QPushButton* cmdInformera;

    SentenceBuffer m_sentence;
    MersenneRandom m_random;
    SystemClock m_clock;
    std::unique_ptr<MessageBoxSink> m_messages;
    SentenceComposer m_composer;
    QtSpeechLoop m_loop;
    SpeechController m_speech;
    InputBlocker m_inputBlocker;
    QPointer<About> m_about;
    QString m_dataDirNote;
    QString m_soundNotice;
};

} // namespace brumlis
