#include "looks.h"

#include "resource.h"

#include <algorithm>
#include <cwchar>

namespace brumlis::winforms {

HBRUSH pinkBrush() {
    static const HBRUSH brush = CreateSolidBrush(Pink);
    return brush;
}

int scaled(int pixels, UINT dpi) {
    return MulDiv(pixels, int(dpi), USER_DEFAULT_SCREEN_DPI);
}

std::wstring wide(std::u16string_view text) {
    static_assert(sizeof(wchar_t) == sizeof(char16_t));
    return {reinterpret_cast<const wchar_t*>(text.data()), text.size()};
}

std::u16string fromWide(std::wstring_view text) {
    return {reinterpret_cast<const char16_t*>(text.data()), text.size()};
}

LOGFONTW verdana(int hundredthsOfPoints, bool bold, UINT dpi) {
    LOGFONTW font{};
    // A negative height asks for the character height (points), not the cell height.
    font.lfHeight = -MulDiv(hundredthsOfPoints, int(dpi), 72 * 100);
    font.lfWeight = bold ? FW_BOLD : FW_NORMAL;
    font.lfCharSet = ANSI_CHARSET;
    font.lfOutPrecision = OUT_DEFAULT_PRECIS;
    font.lfClipPrecision = CLIP_DEFAULT_PRECIS;
    font.lfQuality = DEFAULT_QUALITY;
    font.lfPitchAndFamily = DEFAULT_PITCH | FF_SWISS;
    wcscpy(font.lfFaceName, L"Verdana");
    return font;
}

LOGFONTW dialogFont(UINT dpi) {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    if (SystemParametersInfoForDpi(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0, dpi))
        return metrics.lfMessageFont;
    // Without the per-dpi call: the settings at the system's dpi, scaled.
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    const HDC screen = GetDC(nullptr);
    const int systemDpi = GetDeviceCaps(screen, LOGPIXELSY);
    ReleaseDC(nullptr, screen);
    metrics.lfMessageFont.lfHeight = MulDiv(metrics.lfMessageFont.lfHeight, int(dpi), systemDpi);
    return metrics.lfMessageFont;
}

HICON brumlisIcon() {
    static const HICON icon =
        HICON(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(IDI_BRUMLIS), IMAGE_ICON, 16,
                         16, LR_DEFAULTCOLOR | LR_SHARED));
    return icon;
}

void registerFormClass(HINSTANCE instance, const wchar_t* name, WNDPROC procedure) {
    WNDCLASSEXW windowClass{};
    windowClass.cbSize = sizeof windowClass;
    windowClass.lpfnWndProc = procedure;
    windowClass.hInstance = instance;
    windowClass.hIcon = brumlisIcon();
    windowClass.hIconSm = brumlisIcon();
    windowClass.hCursor = LoadCursorW(nullptr, IDC_ARROW);
    windowClass.hbrBackground = pinkBrush();
    windowClass.lpszClassName = name;
    RegisterClassExW(&windowClass);
}

void setFormIcons(HWND window) {
    SendMessageW(window, WM_SETICON, ICON_SMALL, LPARAM(brumlisIcon()));
    SendMessageW(window, WM_SETICON, ICON_BIG, LPARAM(brumlisIcon()));
}

HWND makeChild(HWND parent, const wchar_t* windowClass, const wchar_t* text, DWORD style, int id) {
    return CreateWindowExW(0, windowClass, text, WS_CHILD | WS_VISIBLE | style, 0, 0, 0, 0, parent,
                           HMENU(INT_PTR(id)), GetModuleHandleW(nullptr), nullptr);
}

HBITMAP loadPicture(int resource, int width, int height, UINT dpi) {
    // A DIB section keeps the palette's colours exact on any screen.
    const int cx = dpi == USER_DEFAULT_SCREEN_DPI ? 0 : scaled(width, dpi);
    const int cy = dpi == USER_DEFAULT_SCREEN_DPI ? 0 : scaled(height, dpi);
    return HBITMAP(LoadImageW(GetModuleHandleW(nullptr), MAKEINTRESOURCEW(resource), IMAGE_BITMAP,
                              cx, cy, LR_CREATEDIBSECTION));
}

void place(HWND control, Placement where, UINT dpi) {
    SetWindowPos(control, nullptr, scaled(where.left, dpi), scaled(where.top, dpi),
                 scaled(where.width, dpi), scaled(where.height, dpi),
                 SWP_NOZORDER | SWP_NOACTIVATE);
}

void sizeAndCentre(HWND window, int clientWidth, int clientHeight, POINT centre) {
    const UINT dpi = GetDpiForWindow(window);
    RECT frame{0, 0, scaled(clientWidth, dpi), scaled(clientHeight, dpi)};
    AdjustWindowRectExForDpi(&frame, DWORD(GetWindowLongPtrW(window, GWL_STYLE)), FALSE,
                             DWORD(GetWindowLongPtrW(window, GWL_EXSTYLE)), dpi);
    const LONG width = frame.right - frame.left;
    const LONG height = frame.bottom - frame.top;
    LONG left = centre.x - width / 2;
    LONG top = centre.y - height / 2;
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    if (GetMonitorInfoW(MonitorFromPoint(centre, MONITOR_DEFAULTTOPRIMARY), &monitor)) {
        const RECT& work = monitor.rcWork;
        left = std::max(work.left, std::min(left, work.right - width));
        top = std::max(work.top, std::min(top, work.bottom - height));
    }
    SetWindowPos(window, nullptr, left, top, width, height, SWP_NOZORDER | SWP_NOACTIVATE);
}

POINT screenCentre() {
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromPoint(POINT{0, 0}, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const RECT& work = monitor.rcWork;
    return {(work.left + work.right) / 2, (work.top + work.bottom) / 2};
}

POINT centreOf(HWND window) {
    RECT frame{};
    GetWindowRect(window, &frame);
    return {(frame.left + frame.right) / 2, (frame.top + frame.bottom) / 2};
}

} // namespace brumlis::winforms
