#pragma once
// What both windows look like and how they scale: the pink, the fonts, the pictures and the
// icon, and pixels at 96 dpi turned into the window's own.
#include <string>
#include <string_view>
#include <windows.h>

namespace brumlis::winforms {

/// RGB (250, 200, 250): both windows, their labels and the pictures' backgrounds.
inline constexpr COLORREF Pink = RGB(250, 200, 250);

/// The one pink brush, alive for the whole run.
HBRUSH pinkBrush();

/// `pixels` at 96 dpi in pixels at `dpi`.
int scaled(int pixels, UINT dpi);

/// Text across the edge to Win32: the core's UTF-16 as wide characters and back.
std::wstring wide(std::u16string_view text);
std::u16string fromWide(std::wstring_view text);

/// A font a window owns: deleted with it.
class Font {
public:
    Font() = default;
    explicit Font(const LOGFONTW& asked)
        : m_font(CreateFontIndirectW(&asked)) {}
    ~Font() { reset(); }
    Font(const Font&) = delete;
    Font& operator=(const Font&) = delete;
    Font& operator=(Font&& other) noexcept {
        reset();
        m_font = other.m_font;
        other.m_font = nullptr;
        return *this;
    }
    HFONT get() const { return m_font; }

private:
    void reset() {
        if (m_font)
            DeleteObject(m_font);
        m_font = nullptr;
    }
    HFONT m_font = nullptr;
};

/// Verdana at `hundredthsOfPoints` / 100 points (11.25 points is 1125), Western character
/// set, neither italic nor underlined nor struck out, at `dpi`.
LOGFONTW verdana(int hundredthsOfPoints, bool bold, UINT dpi);
/// The platform's default dialog font at `dpi`: the message font of the desktop's settings.
LOGFONTW dialogFont(UINT dpi);

/// The 16 × 16, 256-colour icon of the program and its windows (shared, not to be freed).
HICON brumlisIcon();

/// Registers a window class of the program's: pink, with its icon and the arrow cursor.
void registerFormClass(HINSTANCE instance, const wchar_t* name, WNDPROC procedure);
/// Gives `window` the program's icon, small and big.
void setFormIcons(HWND window);
/// The form a window of one of the program's classes belongs to: the window was created
/// with the form as its creation parameter, which WM_NCCREATE keeps in the window's user
/// data and whose `window` member it sets. Null before that.
template <typename Form>
Form* formOf(HWND window, UINT message, LPARAM lParam, HWND Form::*windowMember) {
    if (message == WM_NCCREATE) {
        auto* form =
            static_cast<Form*>(reinterpret_cast<const CREATESTRUCTW*>(lParam)->lpCreateParams);
        SetWindowLongPtrW(window, GWLP_USERDATA, LONG_PTR(form));
        form->*windowMember = window;
    }
    return reinterpret_cast<Form*>(GetWindowLongPtrW(window, GWLP_USERDATA));
}

/// A visible child control of `parent` of `windowClass` ("STATIC", "BUTTON"), placed later.
HWND makeChild(HWND parent, const wchar_t* windowClass, const wchar_t* text, DWORD style, int id);

/// A picture of the resources at its natural size at 96 dpi, scaled to `dpi`; the caller
/// deletes it.
HBITMAP loadPicture(int resource, int width, int height, UINT dpi);

/// Where a control stands, in pixels at 96 dpi.
struct Placement {
    int left, top, width, height;
};
/// Moves `control` to `where`, scaled to `dpi`.
void place(HWND control, Placement where, UINT dpi);

/// A fixed window of `clientWidth` × `clientHeight` pixels at 96 dpi: its outer size at the
/// window's dpi, centred on `centre` (a point on the screen), kept on that monitor's work area.
void sizeAndCentre(HWND window, int clientWidth, int clientHeight, POINT centre);
/// The centre of the primary monitor's work area.
POINT screenCentre();
/// The centre of `window` on the screen.
POINT centreOf(HWND window);

} // namespace brumlis::winforms
