#pragma once
// What a WASAPI stream is opened with, from the device's mix format and the sound the engine
// produces. No COM here: the choice is made on the formats alone.
#include "brumlis/audio/clipstream.h"

#include <optional>
#include <windows.h>
// After windows.h, which mmreg.h needs.
#include <mmreg.h>

namespace brumlis {

/// `format` as the core's ClipStream writes sound: 8-bit unsigned, 16- or 32-bit signed
/// integer (24 valid bits in 32 too: the low byte is then left out) or 32-bit float PCM, as
/// a plain WAVEFORMATEX or an extensible one. Nothing for what it cannot write: 24-bit
/// samples in three bytes, 64-bit float, anything compressed, a size that does not add up.
std::optional<DeviceFormat> deviceFormatOf(const WAVEFORMATEX& format);

/// `format` as Windows describes it: extensible, with the usual speaker positions for its
/// channels.
WAVEFORMATEXTENSIBLE waveFormatOf(const DeviceFormat& format);

/// How a shared-mode stream for sound in `engine`'s format is opened on a device whose mix
/// format is `mix`.
struct StreamFormat {
    WAVEFORMATEXTENSIBLE wave;
    /// AUDCLNT_STREAMFLAGS_* beyond the event callback.
    DWORD flags = 0;
    /// Windows converts the stream to the mix format (channels, samples, rate).
    bool converted = false;
};

/// The mix format itself when it is what the engine produces (the usual case: Windows mixes
/// in 32-bit float, mostly at 48 kHz in stereo), so that nothing is converted on the way;
/// else the engine's format, with Windows' own converter and resampler in between
/// (AUTOCONVERTPCM): a shared stream in another format is refused.
StreamFormat streamFormatFor(const WAVEFORMATEX* mix, const DeviceFormat& engine);

} // namespace brumlis
