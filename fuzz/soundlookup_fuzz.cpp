// Any word as the name of its recording: whatever it holds ("..", absolute paths, NUL,
// backslashes, bytes that are not UTF-8), the lookup answers with a file inside sound/
// or with nothing.
#include "brumlis/sentence/fileresolver.h"
#include "brumlis/sentence/wordlist.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>
#include <string_view>

namespace {

using namespace brumlis;

// A data folder with a few recordings to be found by every rule, and one file outside
// sound/ that no word may reach.
struct DataFolder {
    DataFolder() {
        char name[] = "/tmp/fuzz-soundlookup-XXXXXX";
        if (!::mkdtemp(name))
            std::abort();
        dir = name;
        std::filesystem::create_directories(dir / "sound/djur");
        for (const char* file :
             {"sound/Kalle.wav", "sound/\xc3\xa5sa.wav", "sound/M\xe4rta.wav",
              "sound/djur/katt.wav", "sound/G\x6f\xcc\x88ran.wav", "hemlig.wav"}) {
            if (!std::ofstream(dir / file))
                std::abort();
        }
        soundPrefix = (dir / "sound").native() + '/';
    }
    ~DataFolder() { std::filesystem::remove_all(dir); }
    std::filesystem::path dir;
    std::string soundPrefix;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    static const DataFolder folder;
    static const FileResolver resolver(folder.dir);

    const std::string_view raw(reinterpret_cast<const char*>(data), size);
    std::u16string latin1;
    for (const char byte : raw)
        latin1 += char16_t(static_cast<unsigned char>(byte));
    // The word as a list would hand it over: UTF-8, or else one character per byte.
    for (const std::u16string& word : {decodeListBytes(raw), latin1}) {
        const FileResolver::Found found = resolver.find(u"sound\\" + word + u".wav");
        const std::string& path = found.path.native();
        if (path.empty() != (found.match == FileResolver::Match::None))
            std::abort();
        if (!path.empty() &&
            (path.rfind(folder.soundPrefix, 0) != 0 || path.find("/../") != std::string::npos ||
             path.find('\0') != std::string::npos))
            std::abort();
    }
    return 0;
}
