#include "mixformat.h"

#include <audioclient.h>
#include <cstring>

namespace brumlis {

namespace {

// The subformats of WAVE_FORMAT_EXTENSIBLE are the old format tags in this GUID's first
// field (KSDATAFORMAT_SUBTYPE_PCM is {00000001-0000-0010-8000-00aa00389b71}).
constexpr GUID SubtypeBase{
    0x00000000, 0x0000, 0x0010, {0x80, 0x00, 0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71}};

GUID subtypeOf(WORD tag) {
    GUID guid = SubtypeBase;
    guid.Data1 = tag;
    return guid;
}

// The format tag an extensible format stands for; 0 when its subformat is none of them.
WORD tagOf(const GUID& subtype) {
    GUID base = subtype;
    base.Data1 = 0;
    if (std::memcmp(&base, &SubtypeBase, sizeof base) != 0 || subtype.Data1 > 0xffff)
        return 0;
    return WORD(subtype.Data1);
}

DWORD speakersFor(int channels) {
    switch (channels) {
    case 1:
        return SPEAKER_FRONT_CENTER;
    case 2:
        return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT;
    case 4:
        return SPEAKER_FRONT_LEFT | SPEAKER_FRONT_RIGHT | SPEAKER_BACK_LEFT | SPEAKER_BACK_RIGHT;
    case 6:
        return KSAUDIO_SPEAKER_5POINT1;
    case 8:
        return KSAUDIO_SPEAKER_7POINT1_SURROUND;
    default:
        return 0;
    }
}

} // namespace

std::optional<DeviceFormat> deviceFormatOf(const WAVEFORMATEX& format) {
    WORD tag = format.wFormatTag;
    int validBits = format.wBitsPerSample;
    if (tag == WAVE_FORMAT_EXTENSIBLE) {
        if (format.cbSize < sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX))
            return std::nullopt;
        const auto& extensible = reinterpret_cast<const WAVEFORMATEXTENSIBLE&>(format);
        tag = tagOf(extensible.SubFormat);
        if (extensible.Samples.wValidBitsPerSample != 0)
            validBits = extensible.Samples.wValidBitsPerSample;
    }
    const int bits = format.wBitsPerSample;
    const int channels = format.nChannels;
    if (channels < 1 || format.nSamplesPerSec < 1 || format.nSamplesPerSec > 1'000'000 ||
        validBits > bits || validBits < 1 || format.nBlockAlign != channels * bits / 8)
        return std::nullopt;
    std::optional<SampleFormat> sample;
    if (tag == WAVE_FORMAT_IEEE_FLOAT && bits == 32 && validBits == 32)
        sample = SampleFormat::Float32;
    else if (tag == WAVE_FORMAT_PCM && bits == 8 && validBits == 8)
        sample = SampleFormat::Unsigned8;
    else if (tag == WAVE_FORMAT_PCM && bits == 16 && validBits == 16)
        sample = SampleFormat::Signed16;
    else if (tag == WAVE_FORMAT_PCM && bits == 32 && validBits >= 24)
        sample = SampleFormat::Signed32;
    if (!sample)
        return std::nullopt;
    return DeviceFormat::of(*sample, int(format.nSamplesPerSec), channels);
}

WAVEFORMATEXTENSIBLE waveFormatOf(const DeviceFormat& format) {
    WAVEFORMATEXTENSIBLE wave{};
    WORD bits = 32;
    WORD tag = WAVE_FORMAT_PCM;
    switch (format.sample) {
    case SampleFormat::Unsigned8:
        bits = 8;
        break;
    case SampleFormat::Signed16:
        bits = 16;
        break;
    case SampleFormat::Signed32:
        break;
    case SampleFormat::Float32:
        tag = WAVE_FORMAT_IEEE_FLOAT;
        break;
    }
    wave.Format.wFormatTag = WAVE_FORMAT_EXTENSIBLE;
    wave.Format.nChannels = WORD(format.channels);
    wave.Format.nSamplesPerSec = DWORD(format.rate);
    wave.Format.wBitsPerSample = bits;
    wave.Format.nBlockAlign = WORD(format.channels * bits / 8);
    wave.Format.nAvgBytesPerSec = wave.Format.nSamplesPerSec * wave.Format.nBlockAlign;
    wave.Format.cbSize = sizeof(WAVEFORMATEXTENSIBLE) - sizeof(WAVEFORMATEX);
    wave.Samples.wValidBitsPerSample = bits;
    wave.dwChannelMask = speakersFor(format.channels);
    wave.SubFormat = subtypeOf(tag);
    return wave;
}

StreamFormat streamFormatFor(const WAVEFORMATEX* mix, const DeviceFormat& engine) {
    StreamFormat stream;
    const std::optional<DeviceFormat> own = mix ? deviceFormatOf(*mix) : std::nullopt;
    if (own && own->sample == engine.sample && own->rate == engine.rate &&
        own->channels == engine.channels) {
        // As the device gave it, speaker positions and all.
        std::memset(&stream.wave, 0, sizeof stream.wave);
        std::memcpy(&stream.wave, mix,
                    mix->wFormatTag == WAVE_FORMAT_EXTENSIBLE ? sizeof(WAVEFORMATEXTENSIBLE)
                                                              : sizeof(WAVEFORMATEX));
        if (mix->wFormatTag != WAVE_FORMAT_EXTENSIBLE)
            stream.wave.Format.cbSize = 0;
        return stream;
    }
    stream.wave = waveFormatOf(engine);
    stream.flags = AUDCLNT_STREAMFLAGS_AUTOCONVERTPCM | AUDCLNT_STREAMFLAGS_SRC_DEFAULT_QUALITY;
    stream.converted = true;
    return stream;
}

} // namespace brumlis
