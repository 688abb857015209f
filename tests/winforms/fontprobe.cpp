// Loaded into brumlis.exe by the window driver's WH_CALLWNDPROC hook, as UI automation tools
// load theirs: a font handle means nothing in another process, so the question "which font
// does this control ask for" is answered here, inside the program, and the LOGFONT sent back
// to the driver's window with WM_COPYDATA.
#include <windows.h>

extern "C" __declspec(dllexport) LRESULT CALLBACK
    fontProbeHook(int code, WPARAM wParam, LPARAM lParam) {
    static const UINT query = RegisterWindowMessageW(L"BrumlisFontProbe");
    if (code == HC_ACTION) {
        const auto* message = reinterpret_cast<const CWPSTRUCT*>(lParam);
        if (message->message == query) {
            LOGFONTW font{};
            const HFONT handle = HFONT(SendMessageW(message->hwnd, WM_GETFONT, 0, 0));
            const bool known = handle && GetObjectW(handle, sizeof font, &font) == sizeof font;
            COPYDATASTRUCT data{1, known ? DWORD(sizeof font) : 0, &font};
            SendMessageW(HWND(message->lParam), WM_COPYDATA, WPARAM(message->hwnd), LPARAM(&data));
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}
