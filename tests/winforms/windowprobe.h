#pragma once
// What windowdriver.exe and the probe it hooks into brumlis.exe (windowprobe.cpp) say to
// each other. A query is the registered message ProbeQueryMessage sent to one of the
// program's windows, with the question in wParam and the driver's window in lParam; the
// answer comes back to that window as WM_COPYDATA with the question as its dwData.

inline constexpr wchar_t ProbeQueryMessage[] = L"BrumlisWindowProbe";
/// Posted to the driver's window whenever something of the program's windows changed.
inline constexpr wchar_t ProbeWakeMessage[] = L"BrumlisWindowProbeWake";

enum ProbeQuestion : unsigned {
    ProbeHello = 0,     ///< no answer: from now on, wake this window
    ProbeFont = 1,      ///< the LOGFONT the window asks for (none when it has no font)
    ProbeTexts = 2,     ///< every text the sentence label was given: records of the performance
                        ///< counter (4 wide characters) and the text, ended by a 0
    ProbeIdealSize = 3, ///< what a button of Common Controls 6 says its ideal size is (a SIZE;
                        ///< none from an older button, which knows no BCM_GETIDEALSIZE)
};
