#include "windowarguments.h"

#include <optional>
#include <system_error>

namespace brumlis::winforms {

WindowArguments parseWindowArguments(const std::vector<std::u16string>& args) {
    std::optional<std::u16string> folder;
    int folders = 0;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::u16string& arg = args[i];
        if (arg == u"--data") {
            if (i + 1 == args.size())
                return {{}, u"--data kräver ett värde"};
            folder = args[++i];
            ++folders;
        } else if (arg.starts_with(u"--data=")) {
            folder = arg.substr(7);
            ++folders;
        } else if (arg.size() > 1 && arg.front() == u'-') {
            return {{}, u"okänd flagga: " + arg};
        } else {
            folder = arg;
            ++folders;
        }
    }
    if (folders > 1)
        return {{}, u"ange bara en mapp"};
    if (!folder)
        return {};
    if (folder->empty())
        return {{}, u"--data kräver ett värde"};
    const std::filesystem::path path(*folder);
    std::error_code error;
    if (!std::filesystem::is_directory(path, error))
        return {{}, u"mappen finns inte: " + *folder};
    return {path, {}};
}

} // namespace brumlis::winforms
