// Loaded into brumlis.exe by the window driver's WH_CALLWNDPROC hook, as UI automation tools
// load theirs, to see what cannot be seen from another process:
// - which font a control asks for (a font handle means nothing in another process): the
//   LOGFONT is sent back to the driver's window with WM_COPYDATA;
// - when the sentence label was given each text, by the performance counter, kept here and
//   sent back when the driver asks;
// - that something changed: every text, enabled state, focus, activation or window shown
//   or destroyed posts a wake-up to the driver, so that it looks again at once (Wine raises
//   no WinEvents for some of these).
// The program is never made to wait for the driver: only the driver's questions are answered
// with a sent message.
#include "windowprobe.h"

#include "brumlis/winforms/controls.h"

#include <string>
#include <vector>
#include <windows.h>
// After windows.h, which it needs.
#include <commctrl.h>

namespace {

using namespace brumlis::winforms;

HWND g_driver = nullptr;
// What the label was given: the counter's value, then the text, each record a whole number
// of wide characters. Bounded: a run that sets more than this keeps only the first.
std::vector<wchar_t> g_texts;
constexpr size_t TextsLimit = 1 << 20;

bool isLabel(HWND window) {
    wchar_t name[64] = {};
    return GetDlgCtrlID(window) == SmiskId && GetClassNameW(GetParent(window), name, 64) &&
           std::wstring_view(name) == BrumformClass;
}

void keepText(const wchar_t* text) {
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    const std::wstring_view shown = text ? text : L"";
    if (g_texts.size() + shown.size() + 8 > TextsLimit)
        return;
    const auto* counter = reinterpret_cast<const wchar_t*>(&now.QuadPart);
    g_texts.insert(g_texts.end(), counter, counter + sizeof now.QuadPart / sizeof(wchar_t));
    g_texts.insert(g_texts.end(), shown.begin(), shown.end());
    g_texts.push_back(L'\0');
}

void answer(HWND control, WPARAM question) {
    if (question == ProbeFont) {
        LOGFONTW font{};
        const HFONT handle = HFONT(SendMessageW(control, WM_GETFONT, 0, 0));
        const bool known = handle && GetObjectW(handle, sizeof font, &font) == sizeof font;
        COPYDATASTRUCT data{ProbeFont, known ? DWORD(sizeof font) : 0, &font};
        SendMessageW(g_driver, WM_COPYDATA, WPARAM(control), LPARAM(&data));
    } else if (question == ProbeIdealSize) {
        SIZE ideal{};
        const bool known = SendMessageW(control, BCM_GETIDEALSIZE, 0, LPARAM(&ideal)) != 0;
        COPYDATASTRUCT data{ProbeIdealSize, known ? DWORD(sizeof ideal) : 0, &ideal};
        SendMessageW(g_driver, WM_COPYDATA, WPARAM(control), LPARAM(&data));
    } else if (question == ProbeTexts) {
        COPYDATASTRUCT data{ProbeTexts, DWORD(g_texts.size() * sizeof(wchar_t)), g_texts.data()};
        SendMessageW(g_driver, WM_COPYDATA, WPARAM(control), LPARAM(&data));
    }
}

} // namespace

extern "C" __declspec(dllexport) LRESULT CALLBACK
    windowProbeHook(int code, WPARAM wParam, LPARAM lParam) {
    static const UINT query = RegisterWindowMessageW(ProbeQueryMessage);
    static const UINT wake = RegisterWindowMessageW(ProbeWakeMessage);
    if (code == HC_ACTION) {
        const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
        switch (message->message) {
        case WM_SETTEXT:
            if (isLabel(message->hwnd))
                keepText(reinterpret_cast<const wchar_t*>(message->lParam));
            [[fallthrough]];
        case WM_ENABLE:
        case WM_SETFOCUS:
        case WM_KILLFOCUS:
        case WM_ACTIVATE:
        case WM_NCACTIVATE:
        case WM_WINDOWPOSCHANGED:
        case WM_SHOWWINDOW:
        case WM_DESTROY:
            if (g_driver)
                PostMessageW(g_driver, wake, 0, 0);
            break;
        default:
            if (message->message == query) {
                g_driver = HWND(message->lParam);
                answer(message->hwnd, message->wParam);
            }
            break;
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
