#include "brumlis/sentence/datadir.h"

#include "brumlis/platform/locations.h"
#include "brumlis/sentence/fileresolver.h"

#include <system_error>

namespace brumlis {

namespace {

// "Text" and "TEXT" count too: a folder copied from Windows, where they are one name.
bool holdsText(const std::filesystem::path& folder) {
    const std::filesystem::path text = FileResolver(folder).resolve(u"text");
    std::error_code error;
    return !text.empty() && std::filesystem::is_directory(text, error);
}

std::filesystem::path cleaned(const std::filesystem::path& path) {
    std::error_code error;
    std::filesystem::path clean = std::filesystem::absolute(path, error).lexically_normal();
    // "data/" names the folder "data".
    if (!clean.has_filename() && clean.has_relative_path())
        clean = clean.parent_path();
    return clean;
}

} // namespace

std::filesystem::path findDataDir(const std::filesystem::path& given) {
    if (!given.empty())
        return cleaned(given);

    // The working directory comes first so that a checkout's data/ and a user's
    // folder of lists keep working as they always did.
    std::error_code error;
    const std::filesystem::path here = cleaned(std::filesystem::current_path(error));
    if (holdsText(here))
        return here;
    for (const std::filesystem::path& candidate : platform::dataLocations())
        if (holdsText(candidate))
            return cleaned(candidate);
    return cleaned(platform::lastDataLocation(here));
}

} // namespace brumlis
