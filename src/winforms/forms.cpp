#include "forms.h"

#include "brumlis/winforms/controls.h"
#include "resource.h"

#include <utility>

namespace brumlis::winforms {

namespace {

constexpr wchar_t OwnerClass[] = L"BrumlisOwner";

// Pixels at 96 dpi.
constexpr int ClientWidth = 419;
constexpr int ClientHeight = 190;
constexpr Placement Image2Place{120, 8, 292, 40};
constexpr Placement Image1Place{8, 32, 107, 150};
constexpr Placement SmiskPlace{128, 64, 281, 89};
constexpr Placement RepeatPlace{128, 160, 89, 22};
constexpr Placement GeneratePlace{224, 160, 89, 22};
constexpr Placement AboutPlace{320, 160, 89, 22};

bool isPointerOrKeyInput(UINT message) {
    return (message >= WM_KEYFIRST && message <= WM_KEYLAST) ||
           (message >= WM_LBUTTONDOWN && message <= WM_MOUSELAST);
}

void setPicture(HWND control, HBITMAP& held, HBITMAP picture) {
    const HGDIOBJ before =
        HGDIOBJ(SendMessageW(control, STM_SETIMAGE, IMAGE_BITMAP, LPARAM(picture)));
    if (before && before != picture)
        DeleteObject(before);
    if (held && held != before)
        DeleteObject(held);
    held = picture;
}

} // namespace

// Program

Program::Program(HINSTANCE instance)
    : m_instance(instance) {
    WNDCLASSEXW ownerClass{};
    ownerClass.cbSize = sizeof ownerClass;
    ownerClass.lpfnWndProc = DefWindowProcW;
    ownerClass.hInstance = instance;
    ownerClass.lpszClassName = OwnerClass;
    RegisterClassExW(&ownerClass);
    // Never shown: a hidden window has no taskbar button, nor do the windows it owns.
    m_hiddenOwner = CreateWindowExW(0, OwnerClass, L"Brumlis", WS_POPUP, 0, 0, 0, 0, nullptr,
                                    nullptr, instance, nullptr);
}

Program::~Program() {
    if (m_hiddenOwner)
        DestroyWindow(m_hiddenOwner);
}

void Program::windowOpened(HWND) {
    ++m_open;
}

void Program::windowClosed(HWND) {
    if (--m_open == 0)
        PostQuitMessage(0);
}

bool Program::preTranslate(Brumform& main, MSG& message) {
    const HWND root = message.hwnd ? GetAncestor(message.hwnd, GA_ROOT) : nullptr;
    const HWND mainWindow = main.window();
    if (!root || (root != mainWindow && root != About::window()))
        return false;
    // Meanwhile both windows repaint and can be moved and closed, and take no other input.
    if (main.busy() && isPointerOrKeyInput(message.message))
        return true;
    if (root == mainWindow && message.message == WM_KEYDOWN) {
        // No button of Brumform is its default or cancel button.
        if (message.wParam == VK_RETURN)
            return main.pressFocusedButton();
        if (message.wParam == VK_ESCAPE)
            return true;
    }
    return IsDialogMessageW(root, &message) != FALSE;
}

int Program::run(Brumform& main) {
    MSG message{};
    while (m_open > 0) {
        const BOOL got = GetMessageW(&message, nullptr, 0, 0);
        if (got == 0 || got == -1)
            break;
        if (preTranslate(main, message))
            continue;
        TranslateMessage(&message);
        DispatchMessageW(&message);
    }
    return m_open > 0 ? 1 : int(message.wParam);
}

// WinMessageBoxSink

void WinMessageBoxSink::show(const std::u16string& message) {
    const HWND owner = m_owner.window();
    if (m_aborted || !owner)
        return;
    // MB_OK and no icon flag: only OK, no icon; modal to Brumform, which it disables.
    MessageBoxW(owner, wide(message).c_str(), L"Brumlis", MB_OK | MB_APPLMODAL);
}

// Brumform

Brumform::Brumform(Program& program, std::filesystem::path dataDir,
                   std::unique_ptr<SoundPlayer> player, SpeechLoop& loop)
    : m_program(program)
    , m_messages(*this)
    , m_composer(std::move(dataDir), m_messages, m_random, &m_clock)
    , m_speech(*this, std::move(player), loop) {
    // Closing the window while a failed pick's message box waited ends the picks left.
    m_composer.setStopCheck([this] { return m_speech.state() == SpeechController::State::Closed; });
    create();
}

Brumform::~Brumform() {
    if (m_window)
        DestroyWindow(m_window);
}

void Brumform::create() {
    const HINSTANCE instance = m_program.instance();
    registerFormClass(instance, BrumformClass, &Brumform::windowProc);

    // A fixed single frame with a close box only; unowned, with a taskbar button.
    const DWORD style = WS_OVERLAPPED | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_APPWINDOW | WS_EX_CONTROLPARENT;
    m_window = CreateWindowExW(exStyle, BrumformClass, L" Brumlis", style, CW_USEDEFAULT,
                               CW_USEDEFAULT, 0, 0, nullptr, nullptr, instance, this);
    if (!m_window)
        return;
    m_program.windowOpened(m_window);
    setFormIcons(m_window);

    // Created in the tab order: Repetera, Generera, Informera, then the label, which takes
    // no focus.
    Image2 = makeChild(m_window, L"STATIC", nullptr, SS_BITMAP, Image2Id);
    Image1 = makeChild(m_window, L"STATIC", nullptr, SS_BITMAP, Image1Id);
    cmdRepeat = makeChild(m_window, L"BUTTON", L"Repetera",
                          WS_TABSTOP | WS_DISABLED | BS_PUSHBUTTON, CmdRepeatId);
    Command1 = makeChild(m_window, L"BUTTON", L"Generera", WS_TABSTOP | BS_PUSHBUTTON, Command1Id);
    cmdInformera =
        makeChild(m_window, L"BUTTON", L"Informera", WS_TABSTOP | BS_PUSHBUTTON, CmdInformeraId);
    // A word is shown as it is: an "&" in a list is no access key.
    smisk = makeChild(m_window, L"STATIC", L"Tryck på Generera för att slumpa fram en mening.",
                      SS_LEFT | SS_NOPREFIX, SmiskId);

    layout(GetDpiForWindow(m_window));
    sizeAndCentre(m_window, ClientWidth, ClientHeight, screenCentre());
    m_lastFocus = Command1;
    ShowWindow(m_window, SW_SHOWNORMAL);
    UpdateWindow(m_window);
    SetFocus(Command1);
}

void Brumform::layout(UINT dpi) {
    m_labelFont = Font(verdana(1200, true, dpi));
    m_buttonFont = Font(dialogFont(dpi));
    SendMessageW(smisk, WM_SETFONT, WPARAM(m_labelFont.get()), TRUE);
    for (HWND button : {cmdRepeat, Command1, cmdInformera})
        SendMessageW(button, WM_SETFONT, WPARAM(m_buttonFont.get()), TRUE);
    // A picture control takes its picture's size: the picture first, then the place.
    setPicture(Image2, m_banner,
               loadPicture(IDB_BANNER, Image2Place.width, Image2Place.height, dpi));
    setPicture(Image1, m_portrait,
               loadPicture(IDB_PORTRAIT, Image1Place.width, Image1Place.height, dpi));
    place(Image2, Image2Place, dpi);
    place(Image1, Image1Place, dpi);
    place(smisk, SmiskPlace, dpi);
    place(cmdRepeat, RepeatPlace, dpi);
    place(Command1, GeneratePlace, dpi);
    place(cmdInformera, AboutPlace, dpi);
}

void Brumform::sentenceStarted() {
    if (!smisk)
        return;
    SetWindowTextW(smisk, L"");
    UpdateWindow(smisk);
}

void Brumform::wordShown(int, const std::u16string& word) {
    if (!smisk)
        return;
    // The caption read back is the base of the next word, as the label holds it.
    std::wstring caption(size_t(GetWindowTextLengthW(smisk)) + 1, L'\0');
    caption.resize(size_t(GetWindowTextW(smisk, caption.data(), int(caption.size()))));
    caption += wide(word);
    caption += L' ';
    SetWindowTextW(smisk, caption.c_str());
    UpdateWindow(smisk);
}

void Brumform::sentenceEnded() {
    if (!m_window)
        return;
    EnableWindow(cmdRepeat, TRUE);
    EnableWindow(Command1, TRUE);
    // Within this window: a Brumform behind the About window does not take the focus from it.
    m_lastFocus = Command1;
    if (GetActiveWindow() == m_window)
        SetFocus(Command1);
}

void Brumform::returnFocusToGenerate() {
    if (!m_window)
        return;
    m_lastFocus = Command1;
    SetForegroundWindow(m_window);
    SetActiveWindow(m_window);
    SetFocus(Command1);
}

bool Brumform::pressFocusedButton() {
    const HWND focus = GetFocus();
    if (!focus || GetParent(focus) != m_window || !IsWindowEnabled(focus))
        return false;
    if (focus != cmdRepeat && focus != Command1 && focus != cmdInformera)
        return false;
    SendMessageW(focus, BM_CLICK, 0, 0);
    return true;
}

void Brumform::Command1_Click() {
    if (!m_speech.take(SpeechController::Press::Generate))
        return;
    EnableWindow(Command1, FALSE);
    m_composer.compose(m_sentence);
    // After a failed pick's message box the window may have closed: then nothing is spoken.
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
    About::show(m_program, *this);
}

void Brumform::closed() {
    // Closing mid-sentence stops the sound at once; no message box opens any more.
    m_messages.abort();
    m_speech.close();
    m_program.windowClosed(m_window);
}

LRESULT CALLBACK Brumform::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    Brumform* form = formOf(window, message, lParam, &Brumform::m_window);
    return form ? form->handle(message, wParam, lParam)
                : DefWindowProcW(window, message, wParam, lParam);
}

LRESULT Brumform::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CTLCOLORSTATIC: {
        // The label and the pictures: opaque pink, the label's text in the control-text colour.
        const HDC dc = HDC(wParam);
        SetTextColor(dc, GetSysColor(COLOR_BTNTEXT));
        SetBkColor(dc, Pink);
        SetBkMode(dc, OPAQUE);
        return LRESULT(pinkBrush());
    }
    case WM_CTLCOLORBTN:
        // What shows around a button's rounded corners.
        return LRESULT(pinkBrush());
    case WM_COMMAND:
        if (HIWORD(wParam) == BN_CLICKED) {
            switch (LOWORD(wParam)) {
            case Command1Id:
                Command1_Click();
                return 0;
            case CmdRepeatId:
                cmdRepeat_Click();
                return 0;
            case CmdInformeraId:
                cmdInformera_Click();
                return 0;
            default:
                break;
            }
        }
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) == WA_INACTIVE) {
            const HWND focus = GetFocus();
            if (focus && GetParent(focus) == m_window)
                m_lastFocus = focus;
        } else if (m_lastFocus && IsWindowEnabled(m_lastFocus)) {
            SetFocus(m_lastFocus);
        } else if (IsWindowEnabled(Command1)) {
            SetFocus(Command1);
        }
        return 0;
    case WM_DPICHANGED: {
        const RECT* suggested = reinterpret_cast<const RECT*>(lParam);
        layout(HIWORD(wParam));
        SetWindowPos(m_window, nullptr, suggested->left, suggested->top,
                     suggested->right - suggested->left, suggested->bottom - suggested->top,
                     SWP_NOZORDER | SWP_NOACTIVATE);
        return 0;
    }
    case WM_CLOSE:
        DestroyWindow(m_window);
        return 0;
    case WM_DESTROY:
        closed();
        return 0;
    case WM_NCDESTROY: {
        const HWND window = m_window;
        m_window = nullptr;
        Image2 = Image1 = smisk = cmdRepeat = Command1 = cmdInformera = m_lastFocus = nullptr;
        for (HBITMAP* picture : {&m_banner, &m_portrait})
            if (*picture)
                DeleteObject(std::exchange(*picture, nullptr));
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        return DefWindowProcW(window, message, wParam, lParam);
    }
    default:
        return DefWindowProcW(m_window, message, wParam, lParam);
    }
}

} // namespace brumlis::winforms
