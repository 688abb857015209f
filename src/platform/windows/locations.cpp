// Data folders on Windows: the user's roaming application data, and the folder the program
// was installed in.
#include "brumlis/platform/locations.h"

#include <shlobj.h>
#include <string>
#include <windows.h>

namespace brumlis::platform {

namespace {

std::filesystem::path knownFolder(REFKNOWNFOLDERID id) {
    PWSTR path = nullptr;
    std::filesystem::path folder;
    if (SUCCEEDED(SHGetKnownFolderPath(id, KF_FLAG_DEFAULT, nullptr, &path)) && path)
        folder = path;
    CoTaskMemFree(path);
    return folder;
}

std::filesystem::path programFolder() {
    std::wstring name(MAX_PATH, L'\0');
    for (;;) {
        const DWORD length = GetModuleFileNameW(nullptr, name.data(), DWORD(name.size()));
        if (length == 0)
            return {};
        if (length < name.size()) {
            name.resize(length);
            return std::filesystem::path(name).parent_path();
        }
        name.resize(name.size() * 2); // a long path: ask again with more room
    }
}

} // namespace

std::vector<std::filesystem::path> dataLocations() {
    std::vector<std::filesystem::path> folders;
    if (const std::filesystem::path base = knownFolder(FOLDERID_RoamingAppData); !base.empty())
        folders.push_back(base / L"Brumlis");
    if (std::filesystem::path installed = programFolder(); !installed.empty())
        folders.push_back(std::move(installed));
    return folders;
}

std::filesystem::path lastDataLocation(const std::filesystem::path& here) {
    const std::filesystem::path installed = programFolder();
    return installed.empty() ? here : installed;
}

} // namespace brumlis::platform
