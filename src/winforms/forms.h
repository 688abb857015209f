#pragma once
// brumlis.exe's two windows, Brumform and About, as Win32 windows with real STATIC and
// BUTTON controls, and what holds the program's run together: the windows still open, the
// hidden owner of About, and the message loop.
#include "brumlis/playback/speechcontroller.h"
#include "brumlis/sentence/composer.h"
#include "brumlis/sentence/messagesink.h"
#include "brumlis/sentence/random.h"
#include "brumlis/sentence/sentencebuffer.h"
#include "looks.h"

#include <filesystem>
#include <memory>
#include <windows.h>

namespace brumlis::winforms {

class Brumform;

/// The windows of one run. The program ends when none of them is open any more.
class Program {
public:
    explicit Program(HINSTANCE instance);
    ~Program();
    Program(const Program&) = delete;
    Program& operator=(const Program&) = delete;

    HINSTANCE instance() const { return m_instance; }
    /// A hidden window that owns About: owned by Brumform, About would close with it, and
    /// unowned it would stand in the taskbar.
    HWND hiddenOwner() const { return m_hiddenOwner; }

    void windowOpened(HWND window);
    void windowClosed(HWND window);

    /// Runs the thread's messages until the last window has closed; returns the exit status.
    int run(Brumform& main);

private:
    /// Keys and clicks the windows do not take while a sentence is composed or spoken, and
    /// the keys of a dialog (Tab, Enter, Esc) in windows that are no dialogs.
    bool preTranslate(Brumform& main, MSG& message);

    HINSTANCE m_instance;
    HWND m_hiddenOwner = nullptr;
    int m_open = 0;
};

/// A modal message box over Brumform, captioned "Brumlis", with only OK and no icon.
class WinMessageBoxSink final : public MessageSink {
public:
    explicit WinMessageBoxSink(Brumform& owner)
        : m_owner(owner) {}
    void show(const std::u16string& message) override;
    /// The window is going away: no box opens any more.
    void abort() { m_aborted = true; }

private:
    Brumform& m_owner;
    bool m_aborted = false;
};

/// The credits window: modeless, one at a time, owned by the program's hidden window.
class About {
public:
    /// Shows the About window, loading it afresh (its Form_Load) when it is not open, else
    /// bringing it to the front.
    static void show(Program& program, Brumform& main);
    static HWND window();

    /// What `description` says.
    static std::wstring creditsText();

private:
    About(Program& program, Brumform& main);
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void layout(UINT dpi);
    void Form_Load();
    void cmdOK_Click();

    Program& m_program;
    Brumform& m_main;
    HWND m_window = nullptr;
    HWND title = nullptr;
    HWND description = nullptr;
    HWND cmdOK = nullptr;
    Font m_titleFont;
    Font m_descriptionFont;
    Font m_buttonFont;
};

/// The main window: the sentence label, the three buttons and the two pictures, over the
/// speech controller, which decides what every press does.
class Brumform final : public SentenceView {
public:
    Brumform(Program& program, std::filesystem::path dataDir, std::unique_ptr<SoundPlayer> player,
             SpeechLoop& loop);
    ~Brumform() override;
    Brumform(const Brumform&) = delete;
    Brumform& operator=(const Brumform&) = delete;

    /// Null once the window has closed.
    HWND window() const { return m_window; }
    bool busy() const { return m_speech.busy(); }

    /// Activates this window and puts the focus on Generera; nothing once it has closed.
    void returnFocusToGenerate();
    /// Enter on one of its buttons clicks that button; Esc does nothing.
    bool pressFocusedButton();

    // SentenceView
    void sentenceStarted() override;
    void wordShown(int slot, const std::u16string& word) override;
    void sentenceEnded() override;

private:
    static LRESULT CALLBACK windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
    LRESULT handle(UINT message, WPARAM wParam, LPARAM lParam);
    void create();
    void layout(UINT dpi);
    void closed();

    void Command1_Click();
    void cmdRepeat_Click();
    void cmdInformera_Click();

    Program& m_program;
    HWND m_window = nullptr;
    HWND Image2 = nullptr;
    HWND Image1 = nullptr;
    HWND smisk = nullptr;
    HWND cmdRepeat = nullptr;
    HWND Command1 = nullptr;
    HWND cmdInformera = nullptr;
    HWND m_lastFocus = nullptr;
    Font m_labelFont;
    Font m_buttonFont;
    HBITMAP m_banner = nullptr;
    HBITMAP m_portrait = nullptr;

    SentenceBuffer m_sentence;
    MersenneRandom m_random;
    SystemClock m_clock;
    WinMessageBoxSink m_messages;
    SentenceComposer m_composer;
    SpeechController m_speech;
};

} // namespace brumlis::winforms
