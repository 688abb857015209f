// Sound on Linux: libsndfile decodes every WAV sub-format, libsoxr resamples.
#include "brumlis/platform/sound.h"

#include <sndfile.h>
#include <soxr.h>

namespace brumlis::platform {

namespace {

class SndfileDecoder final : public SoundDecoder {
public:
    SndfileDecoder(SNDFILE* file, const SF_INFO& info)
        : m_file(file)
        , m_info(info) {}
    ~SndfileDecoder() override { sf_close(m_file); }
    SndfileDecoder(const SndfileDecoder&) = delete;
    SndfileDecoder& operator=(const SndfileDecoder&) = delete;

    int rate() const override { return m_info.samplerate; }
    int channels() const override { return m_info.channels; }
    std::int64_t read(float* out, std::int64_t frames) override {
        const sf_count_t got = sf_readf_float(m_file, out, frames);
        return got > 0 ? got : 0;
    }

private:
    SNDFILE* m_file;
    SF_INFO m_info;
};

class SoxrResampler final : public Resampler {
public:
    SoxrResampler(soxr_t soxr, int channels, double ratio)
        : m_soxr(soxr)
        , m_channels(channels)
        , m_ratio(ratio) {}
    ~SoxrResampler() override { soxr_delete(m_soxr); }
    SoxrResampler(const SoxrResampler&) = delete;
    SoxrResampler& operator=(const SoxrResampler&) = delete;

    bool process(const float* in, std::int64_t frames, std::vector<float>& out,
                 bool last) override {
        // Room for what the frames give and a filter's length held back: soxr says how much
        // it made, and is asked again while it fills the room.
        const std::size_t room = std::size_t(double(frames) * m_ratio) + 256;
        std::size_t taken = 0;
        bool draining = false; // all input given: what soxr holds back is asked for
        for (;;) {
            const std::size_t at = out.size();
            out.resize(at + room * std::size_t(m_channels));
            std::size_t done = 0;
            std::size_t used = 0;
            const std::size_t left = std::size_t(frames) - taken;
            soxr_error_t error = nullptr;
            if (left > 0)
                error = soxr_process(m_soxr, in + taken * std::size_t(m_channels), left, &used,
                                     out.data() + at, room, &done);
            else if (last)
                error = soxr_process(m_soxr, nullptr, 0, nullptr, out.data() + at, room, &done);
            draining = left == 0 && last;
            out.resize(at + done * std::size_t(m_channels));
            if (error)
                return false;
            taken += used;
            if (taken < std::size_t(frames))
                continue;
            if (!last || (draining && done < room))
                return true;
        }
    }

private:
    soxr_t m_soxr;
    int m_channels;
    double m_ratio;
};

} // namespace

std::unique_ptr<SoundDecoder> SoundDecoder::open(InputFile& file) {
    if (!file.isOpen())
        return nullptr;
    SF_INFO info{};
    // The descriptor stays the file's: libsndfile does not close it.
    SNDFILE* sound = sf_open_fd(int(file.handle()), SFM_READ, &info, SF_FALSE);
    if (!sound)
        return nullptr;
    return std::make_unique<SndfileDecoder>(sound, info);
}

std::unique_ptr<Resampler> Resampler::create(int inputRate, int outputRate, int channels) {
    if (inputRate <= 0 || outputRate <= 0 || channels <= 0)
        return nullptr;
    const soxr_io_spec_t io = soxr_io_spec(SOXR_FLOAT32_I, SOXR_FLOAT32_I);
    // High quality and no phase response of its own beyond what the filter needs: words
    // keep their timing.
    const soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, 0);
    soxr_error_t error = nullptr;
    soxr_t soxr =
        soxr_create(inputRate, outputRate, unsigned(channels), &error, &io, &quality, nullptr);
    if (!soxr || error) {
        soxr_delete(soxr);
        return nullptr;
    }
    return std::make_unique<SoxrResampler>(soxr, channels, double(outputRate) / inputRate);
}

} // namespace brumlis::platform
