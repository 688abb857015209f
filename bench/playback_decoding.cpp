#include "benchkit.h"
#include "brumlis/audio/clipstream.h"
#include "playback_bench.h"

#include <QFile>
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

namespace brumlis::bench {

DecodeFigures measureDecode(const QString& path) {
    const DeviceFormat format = DeviceFormat::of(SampleFormat::Float32, Rate, 2);
    std::vector<double> first, whole;
    std::vector<std::uint8_t> chunk;
    std::vector<std::uint8_t> queue(std::size_t(Rate) * 8); // stands in for the engine's queue
    for (int run = 0; run < 41; ++run) {
        const Clock::time_point start = Clock::now();
        ClipStream clip;
        clip.open(corePath(path), format);
        bool firstDone = false;
        std::size_t at = 0;
        while (clip.next(chunk)) {
            const std::size_t n = std::min(chunk.size(), queue.size() - at);
            std::memcpy(queue.data() + at, chunk.data(), n);
            at = (at + n) % queue.size();
            if (!firstDone) {
                first.push_back(ms(Clock::now() - start));
                firstDone = true;
            }
        }
        whole.push_back(ms(Clock::now() - start));
    }
    std::sort(first.begin(), first.end());
    std::sort(whole.begin(), whole.end());
    return {first[first.size() / 2], whole[whole.size() / 2]};
}

} // namespace brumlis::bench
