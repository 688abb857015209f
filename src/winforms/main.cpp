// brumlis.exe: Brumform over the portable core, in a Win32 message loop.
#include "brumlis/platform/arguments.h"
#include "brumlis/playback/lazyplayer.h"
#include "brumlis/sentence/datadir.h"
#include "forms.h"
#include "looks.h"
#include "windowarguments.h"
#include "windowplayer.h"
#include "winspeechloop.h"

#include <commctrl.h>
#include <string>
#include <vector>
#include <windows.h>

int WINAPI wWinMain(HINSTANCE instance, HINSTANCE, PWSTR, int) {
    using namespace brumlis::winforms;
    const WindowArguments given = parseWindowArguments(brumlis::platform::commandLineArguments());
    if (!given.problem.empty()) {
        const std::u16string text =
            given.problem + u"\r\n\r\nAnvändning: brumlis [--data MAPP] [MAPP]";
        MessageBoxW(nullptr, wide(text).c_str(), L"Brumlis", MB_OK | MB_ICONERROR);
        return 2;
    }
    const std::filesystem::path dataDir = brumlis::findDataDir(given.dataDir);

    // The buttons of Common Controls 6, as the manifest asks for.
    INITCOMMONCONTROLSEX controls{sizeof controls, ICC_STANDARD_CLASSES};
    InitCommonControlsEx(&controls);

    Program program(instance);
    brumlis::WinSpeechLoop loop;
    std::unique_ptr<brumlis::LazyPlayer> player = createWindowPlayer(dataDir);
    brumlis::LazyPlayer& sound = *player;
    // Drawn before this returns (UpdateWindow): the sound device opens after that.
    Brumform form(program, dataDir, std::move(player), loop);
    if (!form.window())
        return 1;
    loop.post([&sound] { sound.start(); });
    return program.run(form);
}
