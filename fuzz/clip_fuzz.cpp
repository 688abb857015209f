// Any bytes as a recording: decoded by libsndfile and converted to each device format
// the engine may open, to the end of the clip.
#include "brumlis/audio/clipstream.h"

#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace brumlis;

const DeviceFormat Formats[] = {
    DeviceFormat::of(SampleFormat::Signed16, 44100, 2, 1024),
    DeviceFormat::of(SampleFormat::Float32, 48000, 2, 1024),
    DeviceFormat::of(SampleFormat::Signed32, 96000, 1, 1024),
    DeviceFormat::of(SampleFormat::Unsigned8, 22050, 1, 1024),
    DeviceFormat::of(SampleFormat::Signed16, 8000, 6, 1024),
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An in-memory file: the decoder wants a path to a regular file, and the disk stays
    // out of it.
    const int fd = ::memfd_create("clip", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, data, size) != ssize_t(size))
        std::abort();
    const std::filesystem::path path = "/proc/self/fd/" + std::to_string(fd);

    std::vector<std::uint8_t> out;
    for (const DeviceFormat& device : Formats) {
        ClipStream stream;
        if (!stream.open(path, device))
            continue;
        // A clip of the fuzzer's size cannot honestly last longer than this.
        for (int chunks = 0; stream.next(out); ++chunks) {
            if (out.size() % std::size_t(device.bytesPerFrame) != 0 || chunks > 1'000'000)
                std::abort();
        }
    }
    ::close(fd);
    return 0;
}
