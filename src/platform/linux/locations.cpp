// Data folders on Linux: the XDG base directories.
#include "brumlis/platform/locations.h"

#include <cstdlib>
#include <string_view>

namespace brumlis::platform {

std::vector<std::filesystem::path> dataLocations() {
    std::vector<std::filesystem::path> bases;
    // An unset or relative value is ignored, as the base directory rules say.
    const char* dataHome = std::getenv("XDG_DATA_HOME");
    if (dataHome && dataHome[0] == '/')
        bases.emplace_back(dataHome);
    else if (const char* home = std::getenv("HOME"); home && home[0] == '/')
        bases.push_back(std::filesystem::path(home) / ".local/share");
    const char* dirs = std::getenv("XDG_DATA_DIRS");
    std::string_view list = dirs && *dirs ? dirs : "/usr/local/share:/usr/share";
    while (!list.empty()) {
        const std::size_t colon = list.find(':');
        const std::string_view entry = list.substr(0, colon);
        if (!entry.empty() && entry.front() == '/')
            bases.emplace_back(std::string(entry));
        list = colon == std::string_view::npos ? std::string_view() : list.substr(colon + 1);
    }
    for (std::filesystem::path& base : bases)
        base = (base / "brumlis").lexically_normal();
    return bases;
}

std::filesystem::path lastDataLocation(const std::filesystem::path& here) {
    return here;
}

} // namespace brumlis::platform
