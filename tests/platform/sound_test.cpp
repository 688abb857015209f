// The platform's decoder on WAV files the test writes itself: each sample format, the
// headers real writers leave (extensible, odd chunks, sizes larger than the file), and files
// that lie or are not sound at all, which must give nothing rather than crash or hang.
#include "brumlis/platform/files.h"
#include "brumlis/platform/sound.h"
#include "testkit/tempfolder.h"
#include "wavwriter.h"

#include <cmath>
#include <cstdint>
#include <gtest/gtest.h>
#include <optional>
#include <ostream>
#include <random>
#include <string>
#include <tuple>
#include <vector>

namespace brumlis {
namespace {

using namespace test::wav;

struct Decoded {
    bool opened = false;
    int rate = 0;
    int channels = 0;
    std::vector<float> samples;
};

Decoded decodeFile(const std::filesystem::path& path, std::int64_t piece = 4096) {
    Decoded result;
    platform::InputFile file;
    if (!file.open(path))
        return result;
    const std::unique_ptr<platform::SoundDecoder> decoder = platform::SoundDecoder::open(file);
    if (!decoder)
        return result;
    result.opened = true;
    result.rate = decoder->rate();
    result.channels = decoder->channels();
    if (result.channels < 1)
        return result;
    std::vector<float> buffer(std::size_t(piece * result.channels));
    // Bounded, so that a decoder that never ends fails the test instead of hanging it.
    for (int calls = 0; calls < 1'000'000; ++calls) {
        const std::int64_t got = decoder->read(buffer.data(), piece);
        EXPECT_GE(got, 0);
        EXPECT_LE(got, piece);
        if (got <= 0)
            break;
        result.samples.insert(result.samples.end(), buffer.begin(),
                              buffer.begin() + std::ptrdiff_t(got * result.channels));
    }
    return result;
}

// Full scale both ways first, then a tone of its own in each channel.
std::vector<double> signal(int frames, int channels) {
    std::vector<double> values;
    for (int f = 0; f < frames; ++f)
        for (int c = 0; c < channels; ++c) {
            double v = 0.8 * std::sin(0.05 * (c + 1) * f + c);
            if (f == 0)
                v = c % 2 ? 1.0 : -1.0;
            else if (f == 1)
                v = c % 2 ? -1.0 : 0.999;
            values.push_back(v);
        }
    return values;
}

std::string pcmFmt(Sample sample, int channels, int rate) {
    const auto bits = std::uint32_t(8 * bytesOf(sample));
    return fmtBody(isFloat(sample) ? Float : Pcm, std::uint32_t(channels), std::uint32_t(rate),
                   bits, std::uint32_t(channels) * bits / 8);
}

struct WavCase {
    std::string name;
    std::string bytes;
    bool decodable = true;
    int rate = 0;
    int channels = 0;
    std::vector<float> samples; // what the decoder must give, sample by sample
    // For a codec whose last block is padded: the frames the file says it holds. The decoder
    // gives those, and may give the rest of the block too (libsndfile does).
    std::size_t framesAtLeast = SIZE_MAX;
};

void PrintTo(const WavCase& c, std::ostream* out) {
    *out << c.name;
}

// A plain file of fmt and data: `frames` of the test signal as `sample`.
WavCase formatCase(const std::string& name, Sample sample, int channels, int rate, int frames) {
    const std::vector<double> values = signal(frames, channels);
    return {name,
            riff({{"fmt ", pcmFmt(sample, channels, rate)}, {"data", encode(sample, values)}}),
            true,
            rate,
            channels,
            decoded(sample, values)};
}

std::vector<float> firstFrames(std::vector<float> samples, int channels, int frames) {
    samples.resize(std::size_t(frames * channels));
    return samples;
}

std::vector<WavCase> decodableCases() {
    std::vector<WavCase> cases;
    cases.push_back(formatCase("u8_mono_8000", Sample::U8, 1, 8000, 300));
    cases.push_back(formatCase("s16_mono_22050", Sample::S16, 1, 22050, 1000));
    cases.push_back(formatCase("s16_stereo_44100", Sample::S16, 2, 44100, 999));
    cases.push_back(formatCase("s24_stereo_48000", Sample::S24, 2, 48000, 501));
    cases.push_back(formatCase("s32_mono_16000", Sample::S32, 1, 16000, 700));
    cases.push_back(formatCase("f32_stereo_32000", Sample::F32, 2, 32000, 640));
    cases.push_back(formatCase("f64_mono_11025", Sample::F64, 1, 11025, 333));
    cases.push_back(formatCase("s16_six_channels_96000", Sample::S16, 6, 96000, 200));
    // More than one read's worth of bytes: the decoder reads in pieces.
    cases.push_back(formatCase("s24_stereo_long", Sample::S24, 2, 44100, 100'000));

    const std::vector<double> stereo = signal(400, 2);
    const std::string s16 = encode(Sample::S16, stereo);
    const std::vector<float> s16Samples = decoded(Sample::S16, stereo);
    const std::string s16Fmt = pcmFmt(Sample::S16, 2, 44100);
    const auto stereoCase = [&](std::string name, std::string bytes) {
        return WavCase{std::move(name), std::move(bytes), true, 44100, 2, s16Samples};
    };

    // WAVE_FORMAT_EXTENSIBLE around integer and float samples.
    cases.push_back(
        stereoCase("extensible_s16",
                   riff({{"fmt ", extensibleBody(Pcm, 2, 44100, 16, 16, 3)}, {"data", s16}})));
    {
        const std::vector<double> values = signal(300, 2);
        cases.push_back({"extensible_s24",
                         riff({{"fmt ", extensibleBody(Pcm, 2, 48000, 24, 24, 3)},
                               {"data", encode(Sample::S24, values)}}),
                         true, 48000, 2, decoded(Sample::S24, values)});
        cases.push_back({"extensible_f32_mono",
                         riff({{"fmt ", extensibleBody(Float, 1, 16000, 32, 32, 4)},
                               {"data", encode(Sample::F32, signal(300, 1))}}),
                         true, 16000, 1, decoded(Sample::F32, signal(300, 1))});
    }
    // What the samples are read by is their width, not the block size the header claims,
    // and 12 bits are stored in 16.
    cases.push_back(stereoCase("block_align_wrong",
                               riff({{"fmt ", fmtBody(Pcm, 2, 44100, 16, 3)}, {"data", s16}})));
    cases.push_back(stereoCase("s12_in_16_bits",
                               riff({{"fmt ", fmtBody(Pcm, 2, 44100, 12, 4)}, {"data", s16}})));
    // A fmt chunk of 18 bytes (cbSize 0), as many writers leave for PCM.
    cases.push_back(
        stereoCase("fmt_with_cbsize",
                   riff({{"fmt ", fmtBody(Pcm, 2, 44100, 16, 4, std::string())}, {"data", s16}})));
    // Chunks a reader must step over: before fmt, between fmt and data, of odd size with
    // their pad byte, and after the data.
    cases.push_back(
        stereoCase("chunks_around", riff({{"JUNK", std::string(28, '\0')},
                                          {"fmt ", s16Fmt},
                                          {"LIST", std::string("INFOISFT\x03\0\0\0ab\0", 15)},
                                          {"bext", std::string(7, 'x')},
                                          {"data", s16},
                                          {"LIST", std::string("INFOICMT\x02\0\0\0z\0", 14)}})));
    cases.push_back(
        stereoCase("odd_chunk_before_fmt",
                   riff({{"afsp", std::string(5, 'y')}, {"fmt ", s16Fmt}, {"data", s16}})));
    // The sizes in the header as a writer that never finished leaves them: the data's and
    // the RIFF's as large as they go, or the RIFF's as if it had nothing in it.
    cases.push_back(stereoCase("data_larger_than_file",
                               riff({{"fmt ", s16Fmt}, {"data", s16, 0xffffffffu}}, 0xffffffffu)));
    cases.push_back(
        stereoCase("data_size_past_end",
                   riff({{"fmt ", s16Fmt}, {"data", s16, std::uint32_t(s16.size() + 1000)}})));
    cases.push_back(stereoCase("riff_size_small", riff({{"fmt ", s16Fmt}, {"data", s16}}, 4)));
    // Cut off in the middle of the last frame: only whole frames.
    {
        std::string bytes = riff({{"fmt ", s16Fmt}, {"data", s16}});
        bytes.resize(bytes.size() - 3);
        cases.push_back(
            {"truncated_mid_frame", bytes, true, 44100, 2, firstFrames(s16Samples, 2, 399)});
    }
    // A data chunk that ends in part of a frame.
    cases.push_back(stereoCase("data_not_whole_frames",
                               riff({{"fmt ", s16Fmt}, {"data", s16 + std::string(3, '\x7f')}})));
    // No samples at all.
    cases.push_back({"data_empty", riff({{"fmt ", s16Fmt}, {"data", ""}}), true, 44100, 2, {}});

    // G.711: every code, in one channel and in two, through the system's codecs.
    {
        std::string codes;
        std::vector<float> mu;
        std::vector<float> a;
        for (int round = 0; round < 3; ++round)
            for (int code = 0; code < 256; ++code) {
                codes += char(code);
                mu.push_back(float(muLawValue(std::uint8_t(code)) / 32768.0));
                a.push_back(float(aLawValue(std::uint8_t(code)) / 32768.0));
            }
        cases.push_back({"mulaw_mono_8000",
                         riff({{"fmt ", fmtBody(MuLaw, 1, 8000, 8, 1, std::string())},
                               {"fact", std::string("\x00\x03\0\0", 4)},
                               {"data", codes}}),
                         true, 8000, 1, mu});
        cases.push_back(
            {"alaw_stereo_16000",
             riff({{"fmt ", fmtBody(ALaw, 2, 16000, 8, 2, std::string())}, {"data", codes}}), true,
             16000, 2, a});
    }
    // IMA ADPCM in blocks, the last one padded, its length in the fact chunk; at a rate of
    // the codec's and at one it does not list; long enough for many reads of the file.
    for (const auto& [name, rate, frames] : {std::tuple{"ima_adpcm_mono_22050", 22050, 3000},
                                             std::tuple{"ima_adpcm_mono_16000", 16000, 2000},
                                             std::tuple{"ima_adpcm_mono_long", 8000, 200'000}}) {
        const std::vector<double> values = signal(frames, 1);
        const Adpcm adpcm = imaAdpcm(values, 256);
        std::string spb;
        put16(spb, adpcm.samplesPerBlock);
        std::string fact;
        put32(fact, std::uint32_t(frames));
        const auto bytesPerSecond =
            std::uint32_t(std::uint64_t(rate) * 256 / adpcm.samplesPerBlock);
        cases.push_back(
            {name,
             riff({{"fmt ", fmtBody(ImaAdpcm, 1, std::uint32_t(rate), 4, 256, spb, bytesPerSecond)},
                   {"fact", fact},
                   {"data", adpcm.data}}),
             true, rate, 1, adpcm.decoded, std::size_t(frames)});
    }
    return cases;
}

std::vector<WavCase> refusedCases() {
    const std::vector<double> mono = signal(100, 1);
    const std::string s16 = encode(Sample::S16, mono);
    const std::string s16Fmt = pcmFmt(Sample::S16, 1, 22050);
    std::mt19937 random(1234);
    std::string garbage;
    for (int i = 0; i < 5000; ++i)
        garbage += char(random() & 0xff);
    std::string fmtCut = riff({{"fmt ", s16Fmt}});
    fmtCut.resize(fmtCut.size() - 6);
    const auto refused = [](std::string name, std::string bytes) {
        return WavCase{std::move(name), std::move(bytes), false, 0, 0, {}};
    };
    return {
        refused("empty_file", ""),
        refused("garbage", garbage),
        refused("riff_of_garbage", "RIFF\xff\xff\xff\xffWAVE" + garbage),
        refused("header_only", riff({})),
        refused("not_wave", riff({{"fmt ", s16Fmt}, {"data", s16}}, {}, "AVI ")),
        refused("no_fmt", riff({{"data", s16}})),
        refused("no_data", riff({{"fmt ", s16Fmt}})),
        refused("fmt_cut_short", fmtCut),
        refused("fmt_too_small", riff({{"fmt ", s16Fmt.substr(0, 12)}, {"data", s16}})),
        refused("no_channels", riff({{"fmt ", fmtBody(Pcm, 0, 22050, 16, 2)}, {"data", s16}})),
        refused("no_rate", riff({{"fmt ", fmtBody(Pcm, 1, 0, 16, 2)}, {"data", s16}})),
        refused("no_bits", riff({{"fmt ", fmtBody(Pcm, 1, 22050, 0, 2)}, {"data", s16}})),
        refused("float_of_16_bits",
                riff({{"fmt ", fmtBody(Float, 1, 22050, 16, 2)}, {"data", s16}})),
        refused("unknown_codec",
                riff({{"fmt ", fmtBody(0x7e57, 1, 22050, 4, 256, std::string())}, {"data", s16}})),
        // A chunk before fmt whose size brings a 32-bit position round to where it was.
        refused(
            "chunk_size_wraps",
            riff({{"JUNK", std::string(8, '\0'), 0xfffffff8u}, {"fmt ", s16Fmt}, {"data", s16}})),
        refused(
            "chunk_size_past_end",
            riff({{"JUNK", std::string(8, '\0'), 0x7ffffff0u}, {"fmt ", s16Fmt}, {"data", s16}})),
    };
}

class Decoding : public testing::TestWithParam<WavCase> {};

TEST_P(Decoding, GivesWhatWasWritten) {
    const WavCase& c = GetParam();
    test::TempFolder folder;
    folder.write("case.wav", c.bytes);
    const Decoded got = decodeFile(folder.filePath("case.wav"));
    ASSERT_EQ(got.opened, c.decodable);
    if (!c.decodable)
        return;
    EXPECT_EQ(got.rate, c.rate);
    ASSERT_EQ(got.channels, c.channels);
    const auto channels = std::size_t(c.channels);
    if (c.framesAtLeast == SIZE_MAX) {
        ASSERT_EQ(got.samples.size(), c.samples.size())
            << "frames: " << got.samples.size() / channels;
    } else {
        ASSERT_GE(got.samples.size(), c.framesAtLeast * channels);
        ASSERT_LE(got.samples.size(), c.samples.size());
    }
    int wrong = 0;
    for (std::size_t i = 0; i < got.samples.size() && wrong < 5; ++i)
        if (std::abs(got.samples[i] - c.samples[i]) > 1e-6f) {
            ADD_FAILURE() << "sample " << i << " (frame " << i / std::size_t(c.channels)
                          << "): " << got.samples[i] << ", written " << c.samples[i];
            ++wrong;
        }
}

INSTANTIATE_TEST_SUITE_P(Wav, Decoding, testing::ValuesIn(decodableCases()),
                         [](const auto& info) { return info.param.name; });
INSTANTIATE_TEST_SUITE_P(NotSound, Decoding, testing::ValuesIn(refusedCases()),
                         [](const auto& info) { return info.param.name; });

// However the frames are asked for, one at a time or many, the same samples come out.
TEST(DecodingInPieces, GivesTheSameSamples) {
    const std::vector<WavCase> cases = decodableCases();
    test::TempFolder folder;
    for (const WavCase& c : cases) {
        if (c.name != "s24_stereo_long" && c.name != "mulaw_mono_8000" &&
            c.name != "ima_adpcm_mono_long")
            continue;
        SCOPED_TRACE(c.name);
        folder.write(c.name + ".wav", c.bytes);
        const Decoded whole = decodeFile(folder.filePath(c.name + ".wav"), 1 << 20);
        ASSERT_FALSE(whole.samples.empty());
        for (const std::int64_t piece : {1, 7, 1000, 70'000}) {
            SCOPED_TRACE(piece);
            EXPECT_EQ(decodeFile(folder.filePath(c.name + ".wav"), piece).samples, whole.samples);
        }
    }
}

// Files damaged at random in their headers, sizes and codec bytes: each is refused or read
// to its end, and never gives more samples than its bytes can hold (two a byte, for 4-bit
// ADPCM), but for a codec's last block, which libsndfile decodes whole from part of one.
TEST(DecodingDamagedFiles, EndsOrIsRefused) {
    std::vector<std::string> originals;
    for (const WavCase& c : decodableCases())
        if (c.name == "chunks_around" || c.name == "mulaw_mono_8000" ||
            c.name == "ima_adpcm_mono_22050" || c.name == "extensible_s24")
            originals.push_back(c.bytes);
    ASSERT_EQ(originals.size(), 4u);
    test::TempFolder folder;
    std::mt19937 random(2024);
    for (int round = 0; round < 200; ++round) {
        std::string bytes = originals[std::size_t(round) % originals.size()];
        // Mostly the first hundred bytes, where the chunks and the format are.
        for (int hits = 1 + int(random() % 4); hits > 0; --hits) {
            const std::size_t at = random() % 2 ? random() % 100 : random() % bytes.size();
            bytes[at] = char(random() % 4 ? random() & 0xff : 0xff);
        }
        if (round % 7 == 0)
            bytes.resize(random() % bytes.size());
        SCOPED_TRACE(round);
        folder.write("damaged.wav", bytes);
        const Decoded got = decodeFile(folder.filePath("damaged.wav"));
        if (got.opened) {
            EXPECT_GT(got.rate, 0);
            EXPECT_GT(got.channels, 0);
            EXPECT_LE(got.samples.size(), 2 * bytes.size() + 2 * 0xffff);
        }
    }
}

// The decoder reads through the file it is given: a file not open gives nothing.
TEST(DecodingClosedFile, GivesNothing) {
    platform::InputFile file;
    EXPECT_EQ(platform::SoundDecoder::open(file), nullptr);
}

} // namespace
} // namespace brumlis
