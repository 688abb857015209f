#pragma once
// The window classes and control identifiers of brumlis.exe's windows: what the program
// creates, and what drives the real program from outside, as a person would, looks for.

namespace brumlis::winforms {

inline constexpr wchar_t BrumformClass[] = L"Brumform";
inline constexpr wchar_t AboutClass[] = L"About";

// Brumform's controls. None is IDOK or IDCANCEL: the window has no default or cancel button.
enum BrumformControl : int {
    Image2Id = 101,
    Image1Id = 102,
    SmiskId = 103,
    CmdRepeatId = 104,
    Command1Id = 105,
    CmdInformeraId = 106,
};

// About's controls; its button is IDOK, both its default and its cancel button.
enum AboutControl : int {
    TitleId = 201,
    DescriptionId = 202,
    CmdOkId = 1, // IDOK
};

} // namespace brumlis::winforms
