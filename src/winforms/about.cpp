#include "brumlis/winforms/controls.h"
#include "forms.h"

#include <utility>

namespace brumlis::winforms {

namespace {

// Pixels at 96 dpi.
constexpr int ClientWidth = 396;
constexpr int ClientHeight = 197;
constexpr Placement TitlePlace{8, 8, 259, 24};
constexpr Placement DescriptionPlace{8, 32, 381, 129};
constexpr Placement OkPlace{152, 168, 84, 23};

// The one About window while it is open.
About* g_open = nullptr;

} // namespace

HWND About::window() {
    return g_open ? g_open->m_window : nullptr;
}

void About::show(Program& program, Brumform& main) {
    if (g_open) {
        ShowWindow(g_open->m_window, SW_SHOWNORMAL);
        SetForegroundWindow(g_open->m_window);
        return;
    }
    // It deletes itself when its window is gone.
    auto* about = new About(program, main);
    if (!about->m_window)
        delete about;
}

std::wstring About::creditsText() {
    return L"Brumlis är gjort av fnurre och vRx som Useless Utility compo-bidrag på Vinterlan 2001."
           L"\r\n"
           L"Programmet är gjort i C++ och Win32, och betatestat på Windows 98 och Windows XP. All "
           L"text och ljud kan enkelt bytas ut efter eget behov."
           L"\r\n\r\n"
           L"Greets till Tufsen, ZiMbAlOx, trolm, v1ndel, Nordbit Crew och alla andra vänner vi "
           L"inte fick plats att inkludera, eftersom den här lama ursäkten tog upp för stor plats "
           L":).";
}

About::About(Program& program, Brumform& main)
    : m_program(program)
    , m_main(main) {
    const HINSTANCE instance = program.instance();
    registerFormClass(instance, AboutClass, &About::windowProc);

    // A fixed dialog frame with a close box, no Minimize or Maximize; owned by the hidden
    // window, so it has no taskbar button and stays when Brumform closes.
    const DWORD style = WS_POPUP | WS_CAPTION | WS_SYSMENU | WS_CLIPCHILDREN;
    const DWORD exStyle = WS_EX_DLGMODALFRAME | WS_EX_CONTROLPARENT;
    m_window = CreateWindowExW(exStyle, AboutClass, L"Om brumlis", style, CW_USEDEFAULT,
                               CW_USEDEFAULT, 0, 0, program.hiddenOwner(), nullptr, instance, this);
    if (!m_window)
        return;
    g_open = this;
    m_program.windowOpened(m_window);
    setFormIcons(m_window);

    // In the tab order: the button, then the two labels, which take no focus.
    cmdOK = makeChild(m_window, L"BUTTON", L"whatever..", WS_TABSTOP | BS_DEFPUSHBUTTON, CmdOkId);
    description = makeChild(m_window, L"STATIC", L"", SS_LEFT | SS_NOPREFIX, DescriptionId);
    // Shown as it is, so the one ampersand between the names is no access key.
    title =
        makeChild(m_window, L"STATIC", L"Brumlis av fnurre & vRx", SS_LEFT | SS_NOPREFIX, TitleId);

    layout(GetDpiForWindow(m_window));
    const HWND mainWindow = main.window();
    sizeAndCentre(m_window, ClientWidth, ClientHeight,
                  mainWindow && IsWindowVisible(mainWindow) ? centreOf(mainWindow)
                                                            : screenCentre());
    Form_Load();
    ShowWindow(m_window, SW_SHOWNORMAL);
    SetForegroundWindow(m_window);
    SetFocus(cmdOK);
}

void About::layout(UINT dpi) {
    m_titleFont = Font(verdana(1125, true, dpi));
    m_descriptionFont = Font(verdana(900, false, dpi));
    m_buttonFont = Font(dialogFont(dpi));
    SendMessageW(title, WM_SETFONT, WPARAM(m_titleFont.get()), TRUE);
    SendMessageW(description, WM_SETFONT, WPARAM(m_descriptionFont.get()), TRUE);
    SendMessageW(cmdOK, WM_SETFONT, WPARAM(m_buttonFont.get()), TRUE);
    place(title, TitlePlace, dpi);
    place(description, DescriptionPlace, dpi);
    place(cmdOK, OkPlace, dpi);
}

void About::Form_Load() {
    SetWindowTextW(description, creditsText().c_str());
}

void About::cmdOK_Click() {
    Brumform& main = m_main;
    DestroyWindow(m_window); // deletes this
    main.returnFocusToGenerate();
}

LRESULT CALLBACK About::windowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    About* about = formOf(window, message, lParam, &About::m_window);
    return about ? about->handle(message, wParam, lParam)
                 : DefWindowProcW(window, message, wParam, lParam);
}

LRESULT About::handle(UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_CTLCOLORSTATIC: {
        const HDC dc = HDC(wParam);
        SetTextColor(dc, RGB(0, 0, 0));
        SetBkColor(dc, Pink);
        SetBkMode(dc, OPAQUE);
        return LRESULT(pinkBrush());
    }
    case WM_CTLCOLORBTN:
        return LRESULT(pinkBrush());
    case DM_GETDEFID:
        return MAKELRESULT(CmdOkId, DC_HASDEFID);
    case WM_COMMAND:
        // "whatever.." is the default and the cancel button: a click, Enter and Esc.
        if (LOWORD(wParam) == IDOK || LOWORD(wParam) == IDCANCEL) {
            cmdOK_Click();
            return 0;
        }
        return 0;
    case WM_ACTIVATE:
        if (LOWORD(wParam) != WA_INACTIVE)
            SetFocus(cmdOK);
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
        // The close box closes it and moves no focus.
        DestroyWindow(m_window);
        return 0;
    case WM_DESTROY:
        m_program.windowClosed(m_window);
        return 0;
    case WM_NCDESTROY: {
        const HWND window = m_window;
        SetWindowLongPtrW(window, GWLP_USERDATA, 0);
        m_window = nullptr;
        if (g_open == this) {
            g_open = nullptr;
            delete this;
        }
        return DefWindowProcW(window, message, wParam, lParam);
    }
    default:
        return DefWindowProcW(m_window, message, wParam, lParam);
    }
}

} // namespace brumlis::winforms
