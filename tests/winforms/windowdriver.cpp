// Drives brumlis.exe as a person would, through Win32 messages (Wine has no accessibility
// tree): finds its windows, reads their texts, rectangles, fonts, colours, enabled states and
// the focus, and clicks by posting BM_CLICK. It waits only for what the program does: every
// wait is on the program's window events (an out-of-context WinEvent hook) or its process
// handle, bounded so that a broken program fails the scenario instead of hanging it.
//
//   windowdriver.exe SCENARIO BRUMLIS.EXE DATA-FOLDER LOG-FILE
//
// Runs inside the same Wine desktop as the program it starts. Writes what it checked to
// LOG-FILE, ending with PASS or FAIL, and exits 0 only when every check held.
#include "brumlis/winforms/controls.h"
#include "windowprobe.h"

#include <algorithm>
#include <cstdarg>
#include <cstdio>
#include <functional>
#include <map>
#include <string>
#include <vector>
#include <windows.h>

namespace {

using namespace brumlis::winforms;

constexpr COLORREF Pink = RGB(250, 200, 250);
constexpr DWORD Bound = 20000; // ms: far beyond what any step takes

FILE* g_log = nullptr;
std::wstring g_logName;
int g_failures = 0;
HANDLE g_process = nullptr;
DWORD g_pid = 0;
DWORD g_thread = 0;

std::string utf8(std::wstring_view text) {
    if (text.empty())
        return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), nullptr, 0,
                                         nullptr, nullptr);
    std::string out(size_t(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), int(text.size()), out.data(), size, nullptr,
                        nullptr);
    return out;
}

// Each line starts with the milliseconds since the driver started, so that a slow step shows.
const ULONGLONG g_started = GetTickCount64();

void note(const char* format, ...) {
    std::fprintf(g_log, "%6llu ", GetTickCount64() - g_started);
    va_list args;
    va_start(args, format);
    std::vfprintf(g_log, format, args);
    va_end(args);
    std::fputc('\n', g_log);
    std::fflush(g_log);
}

bool check(bool ok, const std::string& what) {
    note("%s %s", ok ? "ok  " : "FAIL", what.c_str());
    if (!ok)
        ++g_failures;
    return ok;
}

template <typename T> bool checkEqual(const T& actual, const T& expected, const std::string& what) {
    return check(actual == expected, what);
}

bool checkText(const std::wstring& actual, const std::wstring& expected, const std::string& what) {
    return check(actual == expected,
                 what + ": \"" + utf8(actual) + "\" (expected \"" + utf8(expected) + "\")");
}

// Every event of the program's windows wakes a wait to look again.
void CALLBACK onEvent(HWINEVENTHOOK, DWORD, HWND, LONG, LONG, DWORD, DWORD) {}

// While the program speaks, how long it takes to answer a message, asked every
// AnswerPeriodMs: the slowest answer, and how many were asked.
constexpr LONG AnswerPeriodMs = 25;
HANDLE g_answerTimer = nullptr;
HWND g_answerTarget = nullptr;
double g_slowestAnswerMs = 0;
int g_answers = 0;

double counterMs(LONGLONG ticks) {
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return double(ticks) * 1000.0 / double(frequency.QuadPart);
}

void askForAnswer() {
    LARGE_INTEGER before, after;
    QueryPerformanceCounter(&before);
    DWORD_PTR result = 0;
    SendMessageTimeoutW(g_answerTarget, WM_NULL, 0, 0, SMTO_NORMAL, Bound, &result);
    QueryPerformanceCounter(&after);
    g_slowestAnswerMs = std::max(g_slowestAnswerMs, counterMs(after.QuadPart - before.QuadPart));
    ++g_answers;
}

/// Asks `window` for an answer every AnswerPeriodMs while the driver waits, from now on.
void keepAsking(HWND window) {
    g_answerTarget = window;
    g_answerTimer = CreateWaitableTimerW(nullptr, FALSE, nullptr);
    LARGE_INTEGER due;
    due.QuadPart = -LONGLONG(AnswerPeriodMs) * 10'000;
    SetWaitableTimer(g_answerTimer, &due, AnswerPeriodMs, nullptr, nullptr, FALSE);
}

/// Looks at `condition` now and after each event of the program (and each time the program
/// is asked for an answer), until it holds, the program ends or `bound` passes.
bool waitFor(const std::function<bool()>& condition, const std::string& what, DWORD bound = Bound) {
    const ULONGLONG end = GetTickCount64() + bound;
    for (;;) {
        if (condition())
            return check(true, what);
        const ULONGLONG now = GetTickCount64();
        if (now >= end)
            return check(false, "within " + std::to_string(bound) + " ms: " + what);
        const HANDLE handles[2] = {g_process, g_answerTimer};
        const DWORD woke = MsgWaitForMultipleObjects(g_answerTimer ? 2 : 1, handles, FALSE,
                                                     DWORD(end - now), QS_ALLINPUT);
        MSG message;
        while (PeekMessageW(&message, nullptr, 0, 0, PM_REMOVE))
            DispatchMessageW(&message);
        if (woke == WAIT_OBJECT_0)
            return check(condition(), "before the program ended: " + what);
        if (woke == WAIT_OBJECT_0 + 1)
            askForAnswer();
    }
}

std::wstring textOf(HWND window) {
    wchar_t buffer[4096] = {};
    DWORD_PTR length = 0;
    SendMessageTimeoutW(window, WM_GETTEXT, WPARAM(std::size(buffer)), LPARAM(buffer),
                        SMTO_ABORTIFHUNG, Bound, &length);
    return std::wstring(buffer, size_t(length));
}

std::wstring classOf(HWND window) {
    wchar_t name[256] = {};
    GetClassNameW(window, name, int(std::size(name)));
    return name;
}

DWORD styleOf(HWND window) {
    return DWORD(GetWindowLongPtrW(window, GWL_STYLE));
}
DWORD exStyleOf(HWND window) {
    return DWORD(GetWindowLongPtrW(window, GWL_EXSTYLE));
}

HWND focusOfProgram() {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    return GetGUIThreadInfo(g_thread, &info) ? info.hwndFocus : nullptr;
}

/// The program's top-level windows of `windowClass`.
std::vector<HWND> topLevels(const wchar_t* windowClass) {
    struct Search {
        const wchar_t* windowClass;
        std::vector<HWND> found;
    } search{windowClass, {}};
    EnumWindows(
        [](HWND window, LPARAM param) -> BOOL {
            auto& s = *reinterpret_cast<Search*>(param);
            DWORD pid = 0;
            GetWindowThreadProcessId(window, &pid);
            if (pid == g_pid && classOf(window) == s.windowClass && IsWindowVisible(window))
                s.found.push_back(window);
            return TRUE;
        },
        LPARAM(&search));
    return search.found;
}

HWND topLevel(const wchar_t* windowClass) {
    const std::vector<HWND> found = topLevels(windowClass);
    return found.size() == 1 ? found.front() : nullptr;
}

std::vector<HWND> childrenOf(HWND parent) {
    std::vector<HWND> children;
    EnumChildWindows(
        parent,
        [](HWND child, LPARAM param) -> BOOL {
            reinterpret_cast<std::vector<HWND>*>(param)->push_back(child);
            return TRUE;
        },
        LPARAM(&children));
    return children;
}

RECT rectInParent(HWND control) {
    RECT rect{};
    GetWindowRect(control, &rect);
    MapWindowPoints(nullptr, GetParent(control), reinterpret_cast<POINT*>(&rect), 2);
    return rect;
}

std::string describe(const RECT& r) {
    return "(" + std::to_string(r.left) + ", " + std::to_string(r.top) + ", " +
           std::to_string(r.right - r.left) + " x " + std::to_string(r.bottom - r.top) + ")";
}

// What windowprobe.dll sees inside the program: the font a control asks for, and the texts
// the sentence label was given, with when.
HWND g_probeWindow = nullptr;
UINT g_probeQuery = 0;
LOGFONTW g_probed{};
bool g_probeAnswered = false;

struct Shown {
    LONGLONG counter; ///< the program's performance counter when the label was given it
    std::wstring text;
};
std::vector<Shown> g_shown;
SIZE g_idealSize{};

void readTexts(const wchar_t* records, size_t size) {
    g_shown.clear();
    constexpr size_t CounterChars = sizeof(LONGLONG) / sizeof(wchar_t);
    size_t at = 0;
    while (at + CounterChars < size) {
        Shown shown{};
        CopyMemory(&shown.counter, records + at, sizeof shown.counter);
        at += CounterChars;
        const size_t end = std::wstring_view(records + at, size - at).find(L'\0');
        if (end == std::wstring_view::npos)
            break;
        shown.text.assign(records + at, end);
        at += end + 1;
        g_shown.push_back(std::move(shown));
    }
}

LRESULT CALLBACK probeWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_COPYDATA) {
        const auto* data = reinterpret_cast<const COPYDATASTRUCT*>(lParam);
        if (data->dwData == ProbeFont) {
            g_probeAnswered = data->cbData == sizeof g_probed;
            if (g_probeAnswered)
                CopyMemory(&g_probed, data->lpData, sizeof g_probed);
        } else if (data->dwData == ProbeIdealSize) {
            g_probeAnswered = data->cbData == sizeof g_idealSize;
            if (g_probeAnswered)
                CopyMemory(&g_idealSize, data->lpData, sizeof g_idealSize);
        } else if (data->dwData == ProbeTexts) {
            g_probeAnswered = true;
            readTexts(static_cast<const wchar_t*>(data->lpData), data->cbData / sizeof(wchar_t));
        }
        return TRUE;
    }
    return DefWindowProcW(window, message, wParam, lParam);
}

bool ask(HWND window, ProbeQuestion question) {
    g_probeAnswered = false;
    SendMessageTimeoutW(window, g_probeQuery, question, LPARAM(g_probeWindow), SMTO_ABORTIFHUNG,
                        Bound, nullptr);
    return g_probeAnswered;
}

bool startProbe(const std::wstring& folder, HWND brumform) {
    const HMODULE probe = LoadLibraryW((folder + L"\\windowprobe.dll").c_str());
    const auto hook = probe ? reinterpret_cast<HOOKPROC>(
                                  reinterpret_cast<void*>(GetProcAddress(probe, "windowProbeHook")))
                            : nullptr;
    WNDCLASSW windowClass{};
    windowClass.lpfnWndProc = probeWindowProc;
    windowClass.hInstance = GetModuleHandleW(nullptr);
    windowClass.lpszClassName = L"BrumlisWindowProbeAnswers";
    RegisterClassW(&windowClass);
    g_probeWindow = CreateWindowExW(0, windowClass.lpszClassName, nullptr, WS_POPUP, 0, 0, 0, 0,
                                    nullptr, nullptr, windowClass.hInstance, nullptr);
    g_probeQuery = RegisterWindowMessageW(ProbeQueryMessage);
    const bool hooked = hook && g_probeWindow &&
                        SetWindowsHookExW(WH_CALLWNDPROC, hook, probe, g_thread) != nullptr;
    if (hooked)
        ask(brumform, ProbeHello);
    return check(hooked, "the probe is hooked into the program");
}

bool fontAsked(HWND control, LOGFONTW& font) {
    const bool known = ask(control, ProbeFont);
    font = g_probed;
    return known;
}

std::string describe(const LOGFONTW& f) {
    return utf8(f.lfFaceName) + " height " + std::to_string(f.lfHeight) + " weight " +
           std::to_string(f.lfWeight) + " charset " + std::to_string(f.lfCharSet) +
           (f.lfItalic ? " italic" : "") + (f.lfUnderline ? " underlined" : "") +
           (f.lfStrikeOut ? " struck out" : "");
}

LOGFONTW systemDialogFont() {
    NONCLIENTMETRICSW metrics{};
    metrics.cbSize = sizeof metrics;
    SystemParametersInfoW(SPI_GETNONCLIENTMETRICS, sizeof metrics, &metrics, 0);
    return metrics.lfMessageFont;
}

/// What a STATIC shows: its text, or with access-key processing "&&" as one "&".
std::wstring shownText(HWND label) {
    std::wstring text = textOf(label);
    if (styleOf(label) & SS_NOPREFIX)
        return text;
    std::wstring shown;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&' && i + 1 < text.size())
            ++i;
        shown += text[i];
    }
    return shown;
}

COLORREF pixelAt(HWND window, int x, int y) {
    POINT point{x, y};
    ClientToScreen(window, &point);
    const HDC screen = GetDC(nullptr);
    const COLORREF colour = GetPixel(screen, point.x, point.y);
    ReleaseDC(nullptr, screen);
    return colour;
}

std::string describe(COLORREF c) {
    return "RGB(" + std::to_string(GetRValue(c)) + ", " + std::to_string(GetGValue(c)) + ", " +
           std::to_string(GetBValue(c)) + ")";
}

// What the scenarios expect of each control.
struct Expected {
    int id;
    const wchar_t* windowClass;
    const wchar_t* text; // nullptr: not checked
    RECT rect;           // left, top, right, bottom at 96 dpi
    bool enabled;
    bool tabStop;
    enum class Font { None, Dialog, Verdana } font;
    int height; // lfHeight asked for, Verdana only
    int weight; // Verdana only
};

constexpr RECT box(int left, int top, int width, int height) {
    return {left, top, left + width, top + height};
}

const wchar_t Prompt[] = L"Tryck på Generera för att slumpa fram en mening.";

// Heights at 96 dpi: 12 pt is 16 pixels, 11.25 pt 15, 9 pt 12.
const Expected BrumformControls[] = {
    {Image2Id, L"Static", nullptr, box(120, 8, 292, 40), true, false, Expected::Font::None, 0, 0},
    {Image1Id, L"Static", nullptr, box(8, 32, 107, 150), true, false, Expected::Font::None, 0, 0},
    {SmiskId, L"Static", Prompt, box(128, 64, 281, 89), true, false, Expected::Font::Verdana, -16,
     700},
    {CmdRepeatId, L"Button", L"Repetera", box(128, 160, 89, 22), false, true,
     Expected::Font::Dialog, 0, 0},
    {Command1Id, L"Button", L"Generera", box(224, 160, 89, 22), true, true, Expected::Font::Dialog,
     0, 0},
    {CmdInformeraId, L"Button", L"Informera", box(320, 160, 89, 22), true, true,
     Expected::Font::Dialog, 0, 0},
};

const Expected AboutControls[] = {
    {TitleId, L"Static", L"Brumlis av fnurre & vRx", box(8, 8, 259, 24), true, false,
     Expected::Font::Verdana, -15, 700},
    {DescriptionId, L"Static", nullptr, box(8, 32, 381, 129), true, false, Expected::Font::Verdana,
     -12, 400},
    {CmdOkId, L"Button", L"whatever..", box(152, 168, 84, 23), true, true, Expected::Font::Dialog,
     0, 0},
};

const wchar_t Credits[] =
    L"Brumlis är gjort av fnurre och vRx som Useless Utility compo-bidrag på Vinterlan 2001.\r\n"
    L"Programmet är gjort i C++ och Win32, och betatestat på Windows 98 och Windows XP. All text "
    L"och ljud kan enkelt bytas ut efter eget behov.\r\n\r\n"
    L"Greets till Tufsen, ZiMbAlOx, trolm, v1ndel, Nordbit Crew och alla andra vänner vi inte "
    L"fick plats att inkludera, eftersom den här lama ursäkten tog upp för stor plats :).";

std::map<int, HWND> controlsOf(HWND window) {
    std::map<int, HWND> controls;
    for (HWND child : childrenOf(window))
        controls[GetDlgCtrlID(child)] = child;
    return controls;
}

void checkControls(HWND window, const char* windowName, const Expected* table, size_t count) {
    const std::map<int, HWND> controls = controlsOf(window);
    checkEqual(controls.size(), count,
               std::string(windowName) + " has " + std::to_string(count) + " controls");
    const LOGFONTW dialog = systemDialogFont();
    for (size_t i = 0; i < count; ++i) {
        const Expected& e = table[i];
        const std::string name = std::string(windowName) + " control " + std::to_string(e.id);
        const auto found = controls.find(e.id);
        if (!check(found != controls.end(), name + " exists"))
            continue;
        const HWND control = found->second;
        check(CompareStringOrdinal(classOf(control).c_str(), -1, e.windowClass, -1, TRUE) ==
                  CSTR_EQUAL,
              name + " is a " + utf8(e.windowClass) + " (" + utf8(classOf(control)) + ")");
        if (e.text)
            checkText(e.windowClass[0] == L'S' ? shownText(control) : textOf(control), e.text,
                      name + " shows");
        const RECT rect = rectInParent(control);
        check(EqualRect(&rect, &e.rect),
              name + " stands at " + describe(rect) + " (expected " + describe(e.rect) + ")");
        check(bool(IsWindowEnabled(control)) == e.enabled,
              name + (e.enabled ? " is enabled" : " is disabled"));
        check(bool(IsWindowVisible(control)), name + " is visible");
        check(bool(styleOf(control) & WS_TABSTOP) == e.tabStop,
              name + (e.tabStop ? " is a tab stop" : " is no tab stop"));
        if (e.font == Expected::Font::None)
            continue;
        LOGFONTW font{};
        if (!check(fontAsked(control, font), name + " has a font of its own"))
            continue;
        if (e.font == Expected::Font::Dialog) {
            check(CompareStringOrdinal(font.lfFaceName, -1, dialog.lfFaceName, -1, TRUE) ==
                          CSTR_EQUAL &&
                      font.lfHeight == dialog.lfHeight,
                  name + " asks for the dialog font: " + describe(font) + " (the system's " +
                      describe(dialog) + ")");
        } else {
            check(CompareStringOrdinal(font.lfFaceName, -1, L"Verdana", -1, TRUE) == CSTR_EQUAL &&
                      font.lfHeight == e.height && font.lfWeight == e.weight &&
                      font.lfCharSet == ANSI_CHARSET && !font.lfItalic && !font.lfUnderline &&
                      !font.lfStrikeOut,
                  name + " asks for " + describe(font) + " (expected Verdana height " +
                      std::to_string(e.height) + " weight " + std::to_string(e.weight) +
                      " charset 0)");
        }
    }
}

void checkClientSize(HWND window, const char* name, int width, int height) {
    RECT client{};
    GetClientRect(window, &client);
    check(client.right == width && client.bottom == height,
          std::string(name) + "'s client area is " + std::to_string(client.right) + " x " +
              std::to_string(client.bottom) + " (expected " + std::to_string(width) + " x " +
              std::to_string(height) + ")");
}

void checkFixedFrame(HWND window, const char* name) {
    const DWORD style = styleOf(window);
    check((style & WS_CAPTION) == WS_CAPTION && (style & WS_SYSMENU),
          std::string(name) + " has a caption and a close box");
    check(!(style & (WS_THICKFRAME | WS_MINIMIZEBOX | WS_MAXIMIZEBOX)),
          std::string(name) + " cannot be resized, minimized or maximized");
}

POINT centreOf(const RECT& r) {
    return {(r.left + r.right) / 2, (r.top + r.bottom) / 2};
}

void checkCentred(HWND window, const char* name) {
    RECT frame{};
    GetWindowRect(window, &frame);
    MONITORINFO monitor{};
    monitor.cbSize = sizeof monitor;
    GetMonitorInfoW(MonitorFromWindow(window, MONITOR_DEFAULTTOPRIMARY), &monitor);
    const POINT a = centreOf(frame);
    const POINT b = centreOf(monitor.rcWork);
    check(std::abs(a.x - b.x) <= 1 && std::abs(a.y - b.y) <= 1,
          std::string(name) + " is centred on the screen: frame " + describe(frame) +
              ", work area " + describe(monitor.rcWork));
}

void checkPink(HWND window, int x, int y, const std::string& what) {
    const COLORREF colour = pixelAt(window, x, y);
    check(colour == Pink, what + " is pink: " + describe(colour));
}

bool click(HWND button) {
    return PostMessageW(button, BM_CLICK, 0, 0) != FALSE;
}

void pressKey(HWND target, WPARAM key) {
    PostMessageW(target, WM_KEYDOWN, key, 1);
    PostMessageW(target, WM_KEYUP, key, LPARAM(1u | (1u << 30) | (1u << 31)));
}

// The program under test.

struct Run {
    HWND brumform = nullptr;
    std::map<int, HWND> controls;
    HWND control(int id) const { return controls.at(id); }
};

bool start(const std::wstring& exe, const std::wstring& arguments, const std::wstring& folder,
           Run& run) {
    std::wstring commandLine = L"\"" + exe + L"\" " + arguments;
    STARTUPINFOW startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!check(CreateProcessW(exe.c_str(), commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                              folder.empty() ? nullptr : folder.c_str(), &startup, &info),
               "brumlis.exe starts: " + utf8(commandLine)))
        return false;
    g_process = info.hProcess;
    g_pid = info.dwProcessId;
    CloseHandle(info.hThread);
    SetWinEventHook(EVENT_MIN, EVENT_MAX, nullptr, onEvent, g_pid, 0, WINEVENT_OUTOFCONTEXT);
    WaitForInputIdle(g_process, Bound);
    if (!waitFor([&] { return (run.brumform = topLevel(BrumformClass)) != nullptr; },
                 "Brumform is shown"))
        return false;
    g_thread = GetWindowThreadProcessId(run.brumform, nullptr);
    const std::wstring driverFolder = exe.substr(0, exe.find_last_of(L"\\/"));
    if (!startProbe(driverFolder, run.brumform))
        return false;
    run.controls = controlsOf(run.brumform);
    for (int id : {Image2Id, Image1Id, SmiskId, CmdRepeatId, Command1Id, CmdInformeraId})
        if (!check(run.controls.count(id) == 1, "Brumform has control " + std::to_string(id)))
            return false;
    // Painted before its pixels are looked at: UpdateWindow sends WM_PAINT and returns after.
    UpdateWindow(run.brumform);
    return true;
}

/// Ends what is left of the program and checks that it ended by itself.
void finish(bool shouldHaveEnded) {
    if (!g_process)
        return;
    const bool ended = WaitForSingleObject(g_process, shouldHaveEnded ? Bound : 0) == WAIT_OBJECT_0;
    if (shouldHaveEnded)
        check(ended, "the program ends once no window of it is open");
    if (!ended) {
        if (HWND about = topLevel(AboutClass))
            PostMessageW(about, WM_SYSCOMMAND, SC_CLOSE, 0);
        if (HWND main = topLevel(BrumformClass))
            PostMessageW(main, WM_SYSCOMMAND, SC_CLOSE, 0);
        if (WaitForSingleObject(g_process, Bound) != WAIT_OBJECT_0) {
            check(false, "the program ends when its windows are closed");
            TerminateProcess(g_process, 99);
        }
    }
    CloseHandle(g_process);
    g_process = nullptr;
}

/// The label no longer shows `before`, both buttons are enabled again and, in the active
/// window, the focus is on Generera.
bool sentenceShown(const Run& run, const std::wstring& before, bool focused = true) {
    const std::wstring text = textOf(run.control(SmiskId));
    return text != before && !text.empty() && IsWindowEnabled(run.control(Command1Id)) &&
           IsWindowEnabled(run.control(CmdRepeatId)) &&
           (!focused || focusOfProgram() == run.control(Command1Id));
}

std::wstring versionString(const std::wstring& exe, const wchar_t* name) {
    DWORD ignored = 0;
    const DWORD size = GetFileVersionInfoSizeW(exe.c_str(), &ignored);
    std::vector<char> data(size);
    if (!size || !GetFileVersionInfoW(exe.c_str(), 0, size, data.data()))
        return {};
    struct Translation {
        WORD language, codePage;
    }* translation = nullptr;
    UINT length = 0;
    if (!VerQueryValueW(data.data(), L"\\VarFileInfo\\Translation",
                        reinterpret_cast<void**>(&translation), &length) ||
        length < sizeof *translation)
        return {};
    wchar_t path[128];
    swprintf(path, std::size(path), L"\\StringFileInfo\\%04x%04x\\%ls", translation->language,
             translation->codePage, name);
    wchar_t* value = nullptr;
    if (!VerQueryValueW(data.data(), path, reinterpret_cast<void**>(&value), &length))
        return {};
    return std::wstring(value, length ? length - 1 : 0);
}

// Scenarios

void atStart(const std::wstring& exe, const std::wstring& data) {
    Run run;
    if (!start(exe, L"--data \"" + data + L"\"", {}, run))
        return finish(false);
    const HWND form = run.brumform;
    checkText(textOf(form), L" Brumlis", "Brumform's caption");
    checkClientSize(form, "Brumform", 419, 190);
    checkFixedFrame(form, "Brumform");
    check(!GetWindow(form, GW_OWNER) && !(exStyleOf(form) & WS_EX_TOOLWINDOW),
          "Brumform is unowned and no tool window: it has a taskbar button");
    checkCentred(form, "Brumform");
    checkControls(form, "Brumform", BrumformControls, std::size(BrumformControls));
    check(focusOfProgram() == run.control(Command1Id), "the focus starts on Generera");
    for (int id : {CmdRepeatId, Command1Id, CmdInformeraId})
        check(!(styleOf(run.control(id)) & BS_DEFPUSHBUTTON),
              "button " + std::to_string(id) + " is no default button");
    // Tab order: Repetera, Generera, Informera; Repetera is disabled at start.
    check(GetNextDlgTabItem(form, run.control(Command1Id), FALSE) == run.control(CmdInformeraId) &&
              GetNextDlgTabItem(form, run.control(CmdInformeraId), FALSE) ==
                  run.control(Command1Id),
          "Tab goes between Generera and Informera only");

    checkPink(form, 2, 2, "Brumform's background");
    checkPink(form, 128 + 278, 64 + 86, "smisk's background");
    checkPink(form, 121, 9, "the banner's background");
    checkPink(form, 9, 33, "the portrait's background");

    check(GetAwarenessFromDpiAwarenessContext(GetWindowDpiAwarenessContext(form)) ==
              DPI_AWARENESS_PER_MONITOR_AWARE,
          "Brumform is per-monitor dpi aware");
    const struct {
        const wchar_t* name;
        const wchar_t* value;
    } versions[] = {{L"ProductName", L"Brumlis"},
                    {L"InternalName", L"brumlis"},
                    {L"FileVersion", L"1.00.0007"},
                    {L"ProductVersion", L"1.00.0007"}};
    for (const auto& [name, value] : versions)
        checkText(versionString(exe, name), value, "version record " + utf8(name));
    // The manifest asks for Common Controls 6: only its buttons know their ideal size.
    const bool sized = ask(run.control(Command1Id), ProbeIdealSize);
    check(sized && g_idealSize.cx > 0,
          "Generera is a button of Common Controls 6: its ideal size is " +
              std::to_string(g_idealSize.cx) + " x " + std::to_string(g_idealSize.cy));

    // Esc does nothing, and Enter acts on the focused button: Generera.
    pressKey(run.control(Command1Id), VK_ESCAPE);
    pressKey(run.control(Command1Id), VK_RETURN);
    waitFor([&] { return sentenceShown(run, Prompt); }, "Enter on Generera speaks a sentence");
    check(IsWindowVisible(form) && !topLevel(AboutClass), "Esc closed nothing and opened nothing");

    PostMessageW(form, WM_SYSCOMMAND, SC_CLOSE, 0);
    finish(true);
}

void generateAndRepeat(const std::wstring& exe, const std::wstring& data) {
    Run run;
    if (!start(exe, L"\"" + data + L"\"", {}, run))
        return finish(false);
    const HWND smisk = run.control(SmiskId);
    click(run.control(Command1Id));
    if (!waitFor([&] { return sentenceShown(run, Prompt); }, "Generera speaks a sentence"))
        return finish(false);
    const std::wstring sentence = textOf(smisk);
    note("     the sentence: \"%s\"", utf8(sentence).c_str());
    int blanks = 0;
    for (wchar_t c : sentence)
        blanks += c == L' ';
    check(sentence.back() == L' ' && blanks >= 15 && sentence.find_first_not_of(L' ') == 0,
          "every one of the fifteen slots went on with its blank, the first a word");
    check(GetNextDlgTabItem(run.brumform, run.control(CmdInformeraId), FALSE) ==
              run.control(CmdRepeatId),
          "once enabled, Repetera is in the tab order after Informera");

    // Repetera clears the label and speaks the same words again.
    SendMessageTimeoutW(smisk, WM_SETTEXT, 0, LPARAM(L"-"), SMTO_ABORTIFHUNG, Bound, nullptr);
    click(run.control(CmdRepeatId));
    waitFor([&] { return sentenceShown(run, L"-"); }, "Repetera speaks again");
    checkText(textOf(smisk), sentence, "Repetera speaks the same sentence");

    // A second Generera composes anew (the words may come out the same; the label does not
    // keep the last sentence's text on the way).
    SendMessageTimeoutW(smisk, WM_SETTEXT, 0, LPARAM(L"-"), SMTO_ABORTIFHUNG, Bound, nullptr);
    click(run.control(Command1Id));
    waitFor([&] { return sentenceShown(run, L"-"); }, "Generera again speaks a sentence");

    PostMessageW(run.brumform, WM_SYSCOMMAND, SC_CLOSE, 0);
    finish(true);
}

void aboutWindow(const std::wstring& exe, const std::wstring& data) {
    Run run;
    if (!start(exe, L"--data=\"" + data + L"\"", {}, run))
        return finish(false);
    // Informera twice.
    click(run.control(CmdInformeraId));
    click(run.control(CmdInformeraId));
    HWND about = nullptr;
    if (!waitFor(
            [&] {
                about = topLevel(AboutClass);
                return about && focusOfProgram() == GetDlgItem(about, CmdOkId);
            },
            "Informera shows About with the focus on its button"))
        return finish(false);
    checkText(textOf(about), L"Om brumlis", "About's caption");
    checkClientSize(about, "About", 396, 197);
    checkFixedFrame(about, "About");
    check(bool(exStyleOf(about) & WS_EX_DLGMODALFRAME), "About has a dialog frame");
    const HWND owner = GetWindow(about, GW_OWNER);
    check(owner && owner != run.brumform && !IsWindowVisible(owner) &&
              !(exStyleOf(about) & WS_EX_APPWINDOW),
          "About is owned by a hidden window, not Brumform: no taskbar button");
    checkControls(about, "About", AboutControls, std::size(AboutControls));
    checkText(textOf(GetDlgItem(about, DescriptionId)), Credits, "About's credits");
    check(bool(styleOf(GetDlgItem(about, CmdOkId)) & BS_DEFPUSHBUTTON),
          "whatever.. is About's default button");
    UpdateWindow(about);
    checkPink(about, 392, 194, "About's background");
    checkPink(about, 8 + 379, 32 + 127, "the credits' background");

    // Esc: the cancel button closes About, and the focus goes back to Generera. Posted
    // after the two clicks, it comes after both: a second About would be left open.
    pressKey(focusOfProgram(), VK_ESCAPE);
    waitFor(
        [&] {
            return topLevels(AboutClass).empty() && focusOfProgram() == run.control(Command1Id);
        },
        "Esc closes About, the focus is on Generera, and no second About is open");

    // Opened afresh: the same credits. Brumform works meanwhile, and Informera then brings
    // the same About to the front.
    click(run.control(CmdInformeraId));
    HWND again = nullptr;
    if (!waitFor(
            [&] {
                again = topLevel(AboutClass);
                return again && focusOfProgram() == GetDlgItem(again, CmdOkId);
            },
            "Informera opens About again"))
        return finish(false);
    checkText(textOf(GetDlgItem(again, DescriptionId)), Credits, "the credits, reopened");
    click(run.control(Command1Id));
    waitFor([&] { return sentenceShown(run, Prompt); }, "Generera works while About is open");
    click(run.control(CmdInformeraId));
    waitFor([&] { return focusOfProgram() == GetDlgItem(again, CmdOkId); },
            "Informera brings the open About to the front");
    checkEqual(topLevels(AboutClass).size(), size_t(1), "still one About window");
    // Enter: the default button closes it.
    pressKey(focusOfProgram(), VK_RETURN);
    waitFor(
        [&] {
            return topLevels(AboutClass).empty() && focusOfProgram() == run.control(Command1Id);
        },
        "Enter closes About and the focus is on Generera");
    PostMessageW(run.brumform, WM_SYSCOMMAND, SC_CLOSE, 0);
    finish(true);
}

void closeMainWithAbout(const std::wstring& exe, const std::wstring& data) {
    Run run;
    if (!start(exe, L"--data \"" + data + L"\"", {}, run))
        return finish(false);
    click(run.control(CmdInformeraId));
    HWND about = nullptr;
    if (!waitFor([&] { return (about = topLevel(AboutClass)) != nullptr; }, "About opens"))
        return finish(false);
    PostMessageW(run.brumform, WM_SYSCOMMAND, SC_CLOSE, 0);
    // A window being destroyed is hidden first: gone from the screen when its WM_DESTROY
    // wakes the driver, though its handle may live a moment longer.
    waitFor([&] { return !IsWindow(run.brumform) || !IsWindowVisible(run.brumform); },
            "Brumform closes");
    check(IsWindow(about) && IsWindowVisible(about), "About stays open when Brumform closes");
    check(WaitForSingleObject(g_process, 0) == WAIT_TIMEOUT, "the program runs on");
    click(GetDlgItem(about, CmdOkId));
    finish(true);
}

void missingList(const std::wstring& exe, const std::wstring& data) {
    // A folder of lists without namn.txt, as the working directory: every sentence begins
    // with a name.
    wchar_t temp[MAX_PATH];
    GetTempPathW(MAX_PATH, temp);
    const std::wstring folder =
        std::wstring(temp) + L"brumlis-missing-" + std::to_wstring(GetCurrentProcessId());
    CreateDirectoryW(folder.c_str(), nullptr);
    CreateDirectoryW((folder + L"\\text").c_str(), nullptr);
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((data + L"\\text\\*.txt").c_str(), &found);
    std::vector<std::wstring> copied;
    if (search != INVALID_HANDLE_VALUE) {
        do {
            if (CompareStringOrdinal(found.cFileName, -1, L"namn.txt", -1, TRUE) == CSTR_EQUAL)
                continue;
            const std::wstring to = folder + L"\\text\\" + found.cFileName;
            if (CopyFileW((data + L"\\text\\" + found.cFileName).c_str(), to.c_str(), FALSE))
                copied.push_back(to);
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    check(copied.size() >= 5, "the other lists are copied: " + std::to_string(copied.size()));

    Run run;
    if (start(exe, L"", folder, run)) {
        click(run.control(Command1Id));
        int boxes = 0;
        for (;;) {
            HWND box = nullptr;
            const bool waited = waitFor(
                [&] {
                    box = topLevel(L"#32770");
                    return box || (boxes > 0 && sentenceShown(run, Prompt));
                },
                "a message box, or the end of the sentence after one");
            if (!waited || !box)
                break;
            ++boxes;
            const std::string which = "message box " + std::to_string(boxes);
            checkText(textOf(box), L"Brumlis", which + "'s caption");
            checkEqual(GetWindow(box, GW_OWNER), run.brumform, which + " is owned by Brumform");
            check(!IsWindowEnabled(run.brumform), which + " is modal: Brumform is disabled");
            std::vector<std::wstring> buttons;
            std::wstring text;
            bool icon = false;
            for (HWND child : childrenOf(box)) {
                if (!IsWindowVisible(child))
                    continue;
                const std::wstring kind = classOf(child);
                if (CompareStringOrdinal(kind.c_str(), -1, L"Button", -1, TRUE) == CSTR_EQUAL) {
                    buttons.push_back(textOf(child));
                } else if ((styleOf(child) & SS_TYPEMASK) == SS_ICON) {
                    DWORD_PTR shown = 0;
                    SendMessageTimeoutW(child, STM_GETICON, 0, 0, SMTO_ABORTIFHUNG, Bound, &shown);
                    icon = icon || shown;
                } else if (!textOf(child).empty()) {
                    text = textOf(child);
                }
            }
            checkText(text, L"text\\namn.txt existerar inte", which + "'s text");
            check(buttons.size() == 1 && buttons.front() == L"OK", which + " has only OK");
            check(!icon, which + " has no icon");
            if (boxes > 2) {
                check(false, "at most two picks of namn in one sentence");
                break;
            }
            if (HWND ok = GetDlgItem(box, IDOK))
                click(ok);
            // This box gone, before the next is looked for.
            waitFor([&] { return !IsWindow(box) || !IsWindowVisible(box); },
                    which + " closes on OK");
        }
        check(boxes >= 1, "Generera without namn.txt shows the message");
        if (sentenceShown(run, Prompt))
            note("     the sentence: \"%s\"", utf8(textOf(run.control(SmiskId))).c_str());
        PostMessageW(run.brumform, WM_SYSCOMMAND, SC_CLOSE, 0);
    }
    finish(run.brumform != nullptr);
    for (const std::wstring& file : copied)
        DeleteFileW(file.c_str());
    RemoveDirectoryW((folder + L"\\text").c_str());
    RemoveDirectoryW(folder.c_str());
}

// Speaking, word by word, with the sound: the program's data folder holds a recording of a
// level of its own for every word (tests/winforms/speak_window.py makes it and listens at the
// sound server). Generera, Repetera, Generera and Generera; what the label was given, with
// when, and when each press was made, go to the log by the performance counter, for the
// listener to set against what it heard. Meanwhile the program is asked for an answer every
// 25 ms.
void speaking(const std::wstring& exe, const std::wstring& data) {
    Run run;
    if (!start(exe, L"\"" + data + L"\"", {}, run))
        return finish(false);
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    note("counter-frequency %lld", frequency.QuadPart);
    keepAsking(run.brumform);
    const auto sentencesStarted = [&] {
        ask(run.brumform, ProbeTexts);
        return std::count_if(g_shown.begin(), g_shown.end(),
                             [](const Shown& shown) { return shown.text.empty(); });
    };
    const auto press = [&](HWND button) {
        LARGE_INTEGER now;
        QueryPerformanceCounter(&now);
        note("press %lld", now.QuadPart);
        click(button);
    };
    const HWND generate = run.control(Command1Id);
    const HWND repeat = run.control(CmdRepeatId);
    const struct {
        HWND button;
        const char* name;
    } presses[] = {{generate, "Generera"},
                   {repeat, "Repetera"},
                   {generate, "Generera"},
                   {generate, "Generera"}};
    long long started = 0;
    std::wstring last;
    for (const auto& [button, name] : presses) {
        // A sentence that Repetera speaks ends without a sign on screen (the buttons stay
        // enabled): the next press is made again each time the program has answered, and
        // is dropped until that sentence is over.
        press(button);
        const bool spoken = waitFor(
            [&] {
                const long long now = sentencesStarted();
                if (now > started && IsWindowEnabled(generate) && IsWindowEnabled(repeat) &&
                    focusOfProgram() == generate && !g_shown.back().text.empty())
                    return true;
                if (now == started && button == generate && started > 0 &&
                    presses[started - 1].button == repeat)
                    press(button);
                return false;
            },
            std::string(name) + " speaks a sentence");
        if (!spoken)
            return finish(false);
        started = sentencesStarted();
        // Repetera: done once its last word is on screen, which is the sentence before it.
        if (button == repeat)
            waitFor(
                [&] {
                    ask(run.brumform, ProbeTexts);
                    return g_shown.back().text == last;
                },
                "Repetera shows the same sentence again");
        last = g_shown.back().text;
        note("     the sentence: \"%s\"", utf8(last).c_str());
    }
    check(g_answers > 0 && g_slowestAnswerMs < 100,
          "the window answered within 100 ms while it spoke: the slowest of " +
              std::to_string(g_answers) + " answers took " + std::to_string(g_slowestAnswerMs) +
              " ms");
    ask(run.brumform, ProbeTexts);
    for (const Shown& shown : g_shown)
        note("shown %lld %s", shown.counter, utf8(shown.text).c_str());
    PostMessageW(run.brumform, WM_SYSCOMMAND, SC_CLOSE, 0);
    finish(true);
}

// For screenshots (tools/screenshots): Brumform with a sentence spoken and About open beside
// it. Writes each window's place on the screen, then "posed", and closes both once a file
// LOG-FILE.done appears.
void posing(const std::wstring& exe, const std::wstring& data) {
    Run run;
    if (!start(exe, L"\"" + data + L"\"", {}, run))
        return finish(false);
    click(run.control(Command1Id));
    if (!waitFor([&] { return sentenceShown(run, Prompt); }, "Generera speaks a sentence"))
        return finish(false);
    click(run.control(CmdInformeraId));
    HWND about = nullptr;
    if (!waitFor([&] { return (about = topLevel(AboutClass)) != nullptr; }, "About opens"))
        return finish(false);
    UpdateWindow(about);
    RECT place;
    // Brumform at the top left, About to the right of it, so that both show whole.
    SetWindowPos(run.brumform, nullptr, 16, 16, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    GetWindowRect(run.brumform, &place);
    SetWindowPos(about, nullptr, place.right + 16, place.top, 0, 0,
                 SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
    for (const auto& [name, window] : {std::pair{"Brumform", run.brumform}, {"About", about}}) {
        GetWindowRect(window, &place);
        note("place %s %ld %ld %ld %ld", name, place.left, place.top, place.right - place.left,
             place.bottom - place.top);
    }
    note("posed");
    const std::wstring done = g_logName + L".done";
    const std::wstring folder = g_logName.substr(0, g_logName.find_last_of(L"\\/"));
    const HANDLE change =
        FindFirstChangeNotificationW(folder.c_str(), FALSE, FILE_NOTIFY_CHANGE_FILE_NAME);
    const ULONGLONG end = GetTickCount64() + 60'000;
    while (GetFileAttributesW(done.c_str()) == INVALID_FILE_ATTRIBUTES && GetTickCount64() < end &&
           change != INVALID_HANDLE_VALUE &&
           WaitForSingleObject(change, DWORD(end - GetTickCount64())) == WAIT_OBJECT_0)
        FindNextChangeNotification(change);
    if (change != INVALID_HANDLE_VALUE)
        FindCloseChangeNotification(change);
    PostMessageW(about, WM_SYSCOMMAND, SC_CLOSE, 0);
    PostMessageW(run.brumform, WM_SYSCOMMAND, SC_CLOSE, 0);
    finish(true);
}

} // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 5) {
        std::fputs("windowdriver SCENARIO BRUMLIS.EXE DATA-FOLDER LOG-FILE\n", stderr);
        return 2;
    }
    g_logName = argv[4];
    g_log = _wfopen(argv[4], L"w");
    if (!g_log)
        return 2;
    const std::wstring scenario = argv[1];
    const std::wstring exe = argv[2];
    const std::wstring data = argv[3];
    const std::map<std::wstring, void (*)(const std::wstring&, const std::wstring&)> scenarios = {
        {L"at-start", atStart},
        {L"generate-repeat", generateAndRepeat},
        {L"about", aboutWindow},
        {L"close-main-with-about", closeMainWithAbout},
        {L"missing-list", missingList},
        {L"speaking", speaking},
        {L"posing", posing},
    };
    const auto found = scenarios.find(scenario);
    if (found == scenarios.end()) {
        note("FAIL no scenario %s", utf8(scenario).c_str());
        return 2;
    }
    found->second(exe, data);
    note(g_failures == 0 ? "PASS" : "FAIL");
    std::fclose(g_log);
    return g_failures == 0 ? 0 : 1;
}
