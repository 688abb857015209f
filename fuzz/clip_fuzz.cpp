// Any bytes as a recording: decoded by libsndfile and converted to each device format
// the engine may open, to the end of the clip.
#include "playback/clipstream.h"

#include <SDL.h>
#include <cstdint>
#include <cstdlib>
#include <sys/mman.h>
#include <unistd.h>
#include <vector>

namespace {

using namespace brumlis;

DeviceFormat format(SDL_AudioFormat sdl, int rate, int channels) {
    DeviceFormat f;
    f.sdlFormat = sdl;
    f.rate = rate;
    f.channels = channels;
    f.bytesPerFrame = int(SDL_AUDIO_BITSIZE(sdl) / 8) * channels;
    f.bufferFrames = 1024;
    f.silence = sdl == AUDIO_U8 ? 0x80 : 0;
    return f;
}

const DeviceFormat Formats[] = {
    format(AUDIO_S16SYS, 44100, 2), format(AUDIO_F32SYS, 48000, 2), format(AUDIO_S32SYS, 96000, 1),
    format(AUDIO_U8, 22050, 1),     format(AUDIO_S16SYS, 8000, 6),
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
    // An in-memory file: the decoder wants a path to a regular file, and the disk stays
    // out of it.
    const int fd = ::memfd_create("clip", MFD_CLOEXEC);
    if (fd < 0 || ::write(fd, data, size) != ssize_t(size))
        std::abort();
    const QByteArray path = "/proc/self/fd/" + QByteArray::number(fd);

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
