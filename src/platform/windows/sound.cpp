// Sound on Windows: mmio reads a recording's RIFF chunks through the handle the file was
// opened with, PCM and float samples are decoded here, and every other format (mu-law,
// A-law, the ADPCMs, GSM ...) goes through the system's codecs by way of ACM. The rate is
// changed by the sinc filter of common/.
#include "brumlis/platform/sound.h"

#include "../common/sincresampler.h"

// windows.h first: the others build on its types.
// clang-format off
#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>
// clang-format on

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <memory>
#include <mutex>
#include <type_traits>
#include <vector>

namespace brumlis::platform {

namespace {

// --- Reading through the file's own handle -------------------------------------------------

// The I/O procedure mmio reads the file with: ReadFile and SetFilePointerEx on the handle
// InputFile opened, kept in adwInfo[0]. A kernel handle fits in 32 bits and is sign-extended
// back, as Windows promises for handles shared between 32- and 64-bit code.
constexpr FOURCC HandleProcedure = mmioFOURCC('B', 'r', 'H', 'd');

HANDLE handleOf(const MMIOINFO& info) {
    return reinterpret_cast<HANDLE>(std::intptr_t(std::int32_t(info.adwInfo[0])));
}

LRESULT CALLBACK readThroughHandle(LPSTR data, UINT message, LPARAM first, LPARAM second) {
    auto* info = reinterpret_cast<MMIOINFO*>(data);
    const HANDLE file = handleOf(*info);
    switch (message) {
    case MMIOM_OPEN: {
        // The file is open already; mmio starts at its beginning.
        LARGE_INTEGER start{};
        if (!SetFilePointerEx(file, start, nullptr, FILE_BEGIN))
            return MMIOERR_CANNOTOPEN;
        info->lDiskOffset = 0;
        return MMSYSERR_NOERROR;
    }
    case MMIOM_CLOSE:
        return MMSYSERR_NOERROR; // the handle stays the InputFile's
    case MMIOM_READ: {
        if (second < 0)
            return -1;
        DWORD got = 0;
        if (!ReadFile(file, reinterpret_cast<void*>(first), DWORD(second), &got, nullptr))
            return -1;
        info->lDiskOffset =
            LONG(std::min<std::int64_t>(LONG_MAX, info->lDiskOffset + std::int64_t(got)));
        return LRESULT(got);
    }
    case MMIOM_SEEK: {
        LARGE_INTEGER distance{};
        distance.QuadPart = LONG(first);
        const DWORD from = second == SEEK_CUR   ? FILE_CURRENT
                           : second == SEEK_END ? FILE_END
                                                : FILE_BEGIN;
        LARGE_INTEGER now{};
        if (!SetFilePointerEx(file, distance, &now, from) || now.QuadPart > LONG_MAX)
            return -1;
        info->lDiskOffset = LONG(now.QuadPart);
        return LRESULT(now.QuadPart);
    }
    default:
        return -1; // writing, renaming: not for a recording being read
    }
}

// Installed once for the process. Handing the procedure to each mmioOpen in pIOProc instead
// would have mmio add it to a list of procedures and take it out again at mmioClose, which
// Wine does without a lock: two threads opening recordings could tear the list.
void installHandleProcedure() {
    static std::once_flag once;
    std::call_once(
        once, [] { mmioInstallIOProcA(HandleProcedure, readThroughHandle, MMIO_INSTALLPROC); });
}

struct MmioCloser {
    void operator()(HMMIO mmio) const { mmioClose(mmio, 0); }
};
using Mmio = std::unique_ptr<std::remove_pointer_t<HMMIO>, MmioCloser>;

Mmio openMmio(HANDLE file) {
    installHandleProcedure();
    MMIOINFO info{};
    info.fccIOProc = HandleProcedure;
    info.adwInfo[0] = DWORD(reinterpret_cast<std::uintptr_t>(file));
    return Mmio(mmioOpenA(nullptr, &info, MMIO_READ));
}

bool seekTo(HMMIO mmio, std::int64_t at) {
    return at >= 0 && at <= LONG_MAX && mmioSeek(mmio, LONG(at), SEEK_SET) == LONG(at);
}

// Exactly `size` bytes, or false.
bool readExactly(HMMIO mmio, void* out, std::int64_t size) {
    return size >= 0 && size <= LONG_MAX &&
           mmioRead(mmio, static_cast<HPSTR>(out), LONG(size)) == LONG(size);
}

std::uint32_t le16(const std::uint8_t* p) {
    return std::uint32_t(p[0]) | std::uint32_t(p[1]) << 8;
}

std::uint32_t le32(const std::uint8_t* p) {
    return le16(p) | le16(p + 2) << 16;
}

// --- What the chunks say --------------------------------------------------------------------

struct Layout {
    std::vector<std::uint8_t> format; // the fmt chunk as it is in the file
    std::int64_t dataAt = -1;
    std::int64_t dataBytes = 0;   // what of the data chunk the file holds
    std::int64_t factFrames = -1; // the fact chunk's count of frames, for compressed data
};

// Nothing a recording has is larger: the longest fmt of a codec holds a few hundred bytes.
constexpr std::uint32_t MaxFormatBytes = 64 * 1024;
// A recording has a handful of chunks before its data; a file of endless tiny ones is not one.
constexpr int MaxChunks = 10'000;

// Walks the chunks of a RIFF WAVE file up to its data. The sizes are the file's word, so each
// is checked against the file's real size in 64 bits: mmioDescend's own search adds them up
// in 32, and a size of 0xfffffff8 brings it back to the chunk it started from, for ever. The
// RIFF chunk's own size is not trusted either: writers that never finished leave it 0 or
// 0xffffffff, and the chunks run to the end of the file all the same.
bool readLayout(HMMIO mmio, std::int64_t fileSize, Layout& layout) {
    MMCKINFO riff{};
    if (mmioDescend(mmio, &riff, nullptr, 0) != MMSYSERR_NOERROR || riff.ckid != FOURCC_RIFF ||
        riff.fccType != mmioFOURCC('W', 'A', 'V', 'E'))
        return false;
    std::int64_t at = 12;
    for (int chunks = 0; chunks < MaxChunks && at + 8 <= fileSize; ++chunks) {
        std::uint8_t header[8];
        if (!seekTo(mmio, at) || !readExactly(mmio, header, 8))
            return false;
        const FOURCC id = mmioFOURCC(header[0], header[1], header[2], header[3]);
        const std::uint32_t size = le32(header + 4);
        const std::int64_t body = at + 8;
        const std::int64_t there = std::min<std::int64_t>(size, fileSize - body);
        if (id == mmioFOURCC('f', 'm', 't', ' ')) {
            // Whole or not at all: a cut fmt chunk is no format.
            if (size < 16 || size > MaxFormatBytes || there < size)
                return false;
            layout.format.resize(size);
            if (!readExactly(mmio, layout.format.data(), size))
                return false;
        } else if (id == mmioFOURCC('f', 'a', 'c', 't') && there >= 4) {
            std::uint8_t frames[4];
            if (readExactly(mmio, frames, 4))
                layout.factFrames = le32(frames);
        } else if (id == mmioFOURCC('d', 'a', 't', 'a')) {
            // The samples are what the file holds of the chunk, whatever its size says.
            layout.dataAt = body;
            layout.dataBytes = std::max<std::int64_t>(0, there);
            return !layout.format.empty();
        }
        // An odd-sized chunk is followed by a pad byte.
        at = body + std::int64_t(size) + (size & 1);
    }
    return false;
}

// --- The format -----------------------------------------------------------------------------

// The fixed tail of the GUID of every sub-format that is a plain format tag.
constexpr std::uint8_t TagGuidTail[12] = {0x00, 0x00, 0x10, 0x00, 0x80, 0x00,
                                          0x00, 0xaa, 0x00, 0x38, 0x9b, 0x71};

struct Format {
    std::uint32_t tag = 0;
    std::uint32_t channels = 0;
    std::uint32_t rate = 0;
    std::uint32_t bytesPerSecond = 0;
    std::uint32_t blockAlign = 0;
    std::uint32_t bits = 0;
    std::vector<std::uint8_t> extra; // what follows cbSize, for a codec
};

bool parseFormat(const std::vector<std::uint8_t>& bytes, Format& format) {
    const std::uint8_t* p = bytes.data();
    format.tag = le16(p);
    format.channels = le16(p + 2);
    format.rate = le32(p + 4);
    format.bytesPerSecond = le32(p + 8);
    format.blockAlign = le16(p + 12);
    format.bits = le16(p + 14);
    if (bytes.size() >= 18) {
        const std::size_t size = std::min<std::size_t>(le16(p + 16), bytes.size() - 18);
        format.extra.assign(p + 18, p + 18 + size);
    }
    if (format.tag == WAVE_FORMAT_EXTENSIBLE) {
        // Valid bits, channel mask, then the sub-format's GUID, whose first four bytes are a
        // plain tag. The samples fill their containers from the top, so the container's size
        // (wBitsPerSample) is what they are read by.
        if (format.extra.size() < 22 || std::memcmp(format.extra.data() + 10, TagGuidTail, 12))
            return false;
        format.tag = le32(format.extra.data() + 6);
        format.extra.clear();
    }
    return format.channels > 0 && format.rate > 0 && format.rate <= INT_MAX;
}

enum class Encoding { Unsigned8, Signed16, Signed24, Signed32, Float32, Float64 };

// The formats decoded here, and the bytes of one sample of each.
bool plainEncoding(const Format& format, Encoding& encoding, int& bytes) {
    if (format.tag == WAVE_FORMAT_PCM && format.bits >= 1 && format.bits <= 32) {
        bytes = int(format.bits + 7) / 8;
        encoding = bytes == 1   ? Encoding::Unsigned8
                   : bytes == 2 ? Encoding::Signed16
                   : bytes == 3 ? Encoding::Signed24
                                : Encoding::Signed32;
        return true;
    }
    if (format.tag == WAVE_FORMAT_IEEE_FLOAT && (format.bits == 32 || format.bits == 64)) {
        bytes = int(format.bits / 8);
        encoding = bytes == 4 ? Encoding::Float32 : Encoding::Float64;
        return true;
    }
    return false;
}

float finite(double value) {
    // A float file may hold NaN or infinity: to whatever plays it, silence.
    return std::isfinite(value) ? float(value) : 0.0f;
}

void convert(const std::uint8_t* in, std::size_t samples, Encoding encoding, float* out) {
    switch (encoding) {
    case Encoding::Unsigned8:
        for (std::size_t i = 0; i < samples; ++i)
            out[i] = float(int(in[i]) - 128) / 128.0f;
        return;
    case Encoding::Signed16:
        for (std::size_t i = 0; i < samples; ++i, in += 2)
            out[i] = float(std::int16_t(le16(in))) / 32768.0f;
        return;
    case Encoding::Signed24:
        for (std::size_t i = 0; i < samples; ++i, in += 3) {
            const std::int32_t v = std::int32_t(le16(in) << 8 | std::uint32_t(in[2]) << 24) >> 8;
            out[i] = float(v) / 8388608.0f;
        }
        return;
    case Encoding::Signed32:
        for (std::size_t i = 0; i < samples; ++i, in += 4)
            out[i] = float(double(std::int32_t(le32(in))) / 2147483648.0);
        return;
    case Encoding::Float32:
        for (std::size_t i = 0; i < samples; ++i, in += 4) {
            float v;
            std::memcpy(&v, in, 4);
            out[i] = finite(v);
        }
        return;
    case Encoding::Float64:
        for (std::size_t i = 0; i < samples; ++i, in += 8) {
            double v;
            std::memcpy(&v, in, 8);
            out[i] = finite(v);
        }
        return;
    }
}

// --- Decoders -------------------------------------------------------------------------------

// Bytes read from the file at a time: the data is never held whole.
constexpr std::int64_t ReadBytes = 64 * 1024;

// PCM and float, straight from the file's bytes.
class PlainDecoder final : public SoundDecoder {
public:
    PlainDecoder(Mmio mmio, const Format& format, Encoding encoding, int sampleBytes,
                 std::int64_t dataBytes)
        : m_mmio(std::move(mmio))
        , m_rate(int(format.rate))
        , m_channels(int(format.channels))
        , m_encoding(encoding)
        , m_frameBytes(std::int64_t(sampleBytes) * format.channels)
        , m_framesLeft(dataBytes / m_frameBytes)
        , m_buffer(std::size_t(std::max(ReadBytes, m_frameBytes))) {}

    int rate() const override { return m_rate; }
    int channels() const override { return m_channels; }

    std::int64_t read(float* out, std::int64_t frames) override {
        frames = std::min(frames, m_framesLeft);
        std::int64_t done = 0;
        while (done < frames) {
            const std::int64_t want =
                std::min(frames - done, std::int64_t(m_buffer.size()) / m_frameBytes);
            const LONG bytes = LONG(want * m_frameBytes);
            const LONG got =
                mmioRead(m_mmio.get(), reinterpret_cast<HPSTR>(m_buffer.data()), bytes);
            const std::int64_t whole = got > 0 ? got / m_frameBytes : 0;
            convert(m_buffer.data(), std::size_t(whole * m_channels), m_encoding,
                    out + done * m_channels);
            done += whole;
            m_framesLeft -= whole;
            if (got != bytes) {
                // The file ended early (it shrank since it was opened) or could not be read.
                m_framesLeft = 0;
                break;
            }
        }
        return done;
    }

private:
    Mmio m_mmio;
    int m_rate;
    int m_channels;
    Encoding m_encoding;
    std::int64_t m_frameBytes;
    std::int64_t m_framesLeft;
    std::vector<std::uint8_t> m_buffer;
};

// Any other format, through the codec the system has for it, to 16-bit PCM.
class CodecDecoder final : public SoundDecoder {
public:
    ~CodecDecoder() override {
        if (m_prepared) {
            // Unprepared with the lengths it was prepared with.
            m_header.cbSrcLength = DWORD(m_source.size());
            m_header.cbDstLength = DWORD(m_decoded.size());
            acmStreamUnprepareHeader(m_stream, &m_header, 0);
        }
        if (m_stream)
            acmStreamClose(m_stream, 0);
    }
    CodecDecoder(const CodecDecoder&) = delete;
    CodecDecoder& operator=(const CodecDecoder&) = delete;

    static std::unique_ptr<SoundDecoder> open(Mmio mmio, const Format& format,
                                              const Layout& layout);

    int rate() const override { return m_rate; }
    int channels() const override { return m_channels; }

    std::int64_t read(float* out, std::int64_t frames) override {
        std::int64_t done = 0;
        while (done < frames && m_framesLeft > 0) {
            const std::int64_t ready = std::int64_t(m_decodedEnd - m_decodedAt) / m_frameBytes;
            if (ready == 0) {
                if (!convertMore())
                    break;
                continue;
            }
            const std::int64_t n = std::min({ready, frames - done, m_framesLeft});
            convert(m_decoded.data() + m_decodedAt, std::size_t(n * m_channels), Encoding::Signed16,
                    out + done * m_channels);
            m_decodedAt += std::size_t(n * m_frameBytes);
            done += n;
            m_framesLeft -= n;
        }
        return done;
    }

private:
    explicit CodecDecoder(Mmio mmio)
        : m_mmio(std::move(mmio)) {}

    // Reads what the source buffer has room for and has the codec decode it: false when
    // nothing more will come.
    bool convertMore() {
        if (m_finished)
            return false;
        if (m_dataLeft > 0 && m_sourceFill < m_source.size()) {
            const std::int64_t want =
                std::min<std::int64_t>(m_dataLeft, std::int64_t(m_source.size() - m_sourceFill));
            const LONG got = mmioRead(
                m_mmio.get(), reinterpret_cast<HPSTR>(m_source.data() + m_sourceFill), LONG(want));
            if (got > 0) {
                m_sourceFill += std::size_t(got);
                m_dataLeft -= got;
            }
            if (got != LONG(want))
                m_dataLeft = 0; // the file ended early, or could not be read
        }
        const bool final = m_dataLeft == 0;
        if (final && m_sourceFill == 0) {
            m_finished = true;
            return false;
        }
        m_header.cbSrcLength = DWORD(m_sourceFill);
        m_header.cbDstLength = DWORD(m_decoded.size());
        DWORD flags = final ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN;
        if (m_first)
            flags |= ACM_STREAMCONVERTF_START;
        m_first = false;
        if (acmStreamConvert(m_stream, &m_header, flags) != MMSYSERR_NOERROR) {
            m_finished = true;
            return false;
        }
        // What the codec says it did, held to the buffers it was given.
        const std::size_t used = std::min<std::size_t>(m_header.cbSrcLengthUsed, m_sourceFill);
        const std::size_t made = std::min<std::size_t>(m_header.cbDstLengthUsed, m_decoded.size());
        std::memmove(m_source.data(), m_source.data() + used, m_sourceFill - used);
        m_sourceFill -= used;
        m_decodedAt = 0;
        m_decodedEnd = made - made % std::size_t(m_frameBytes);
        // A codec that takes nothing more would be asked again for ever: at the end, or after
        // a few such calls, the stream is done. At the end what it leaves is part of a block.
        m_idleCalls = used == 0 ? m_idleCalls + 1 : 0;
        if ((final && (used == 0 || m_decodedEnd == 0)) || (used == 0 && m_decodedEnd == 0) ||
            m_idleCalls > 16)
            m_finished = true;
        return m_decodedEnd > 0 || !m_finished;
    }

    Mmio m_mmio;
    HACMSTREAM m_stream = nullptr;
    ACMSTREAMHEADER m_header{};
    bool m_prepared = false;
    int m_rate = 0;
    int m_channels = 0;
    std::int64_t m_frameBytes = 0; // of the decoded PCM
    std::int64_t m_framesLeft = INT64_MAX;
    std::int64_t m_dataLeft = 0; // bytes of the data chunk not yet read
    std::vector<std::uint8_t> m_source;
    std::size_t m_sourceFill = 0;
    std::vector<std::uint8_t> m_decoded;
    std::size_t m_decodedAt = 0;
    std::size_t m_decodedEnd = 0;
    int m_idleCalls = 0;
    bool m_first = true;
    bool m_finished = false;
};

std::unique_ptr<SoundDecoder> CodecDecoder::open(Mmio mmio, const Format& format,
                                                 const Layout& layout) {
    // Codecs are for a channel or two; a block of 16-bit frames must fit a WORD.
    if (format.blockAlign == 0 || format.tag > 0xffff || format.channels > 255)
        return nullptr;
    // WAVEFORMATEX as the codec wants it: the fields, cbSize, and the codec's own bytes.
    std::vector<std::uint8_t> source(sizeof(WAVEFORMATEX) + format.extra.size());
    auto* from = reinterpret_cast<WAVEFORMATEX*>(source.data());
    from->wFormatTag = WORD(format.tag);
    from->nChannels = WORD(format.channels);
    from->nSamplesPerSec = format.rate;
    from->nBlockAlign = WORD(format.blockAlign);
    from->wBitsPerSample = WORD(format.bits);
    from->nAvgBytesPerSec = format.bytesPerSecond;
    from->cbSize = WORD(format.extra.size());
    if (!format.extra.empty())
        std::memcpy(source.data() + sizeof(WAVEFORMATEX), format.extra.data(), format.extra.size());

    std::unique_ptr<CodecDecoder> decoder(new CodecDecoder(std::move(mmio)));
    WAVEFORMATEX to{};
    // To 16-bit PCM of the source's channels and rate: nothing about it is left to the codec.
    const auto openAt = [&](std::uint32_t rate) {
        from->nSamplesPerSec = rate;
        from->nAvgBytesPerSec =
            std::uint32_t(std::uint64_t(format.bytesPerSecond) * rate / format.rate);
        to = {};
        to.wFormatTag = WAVE_FORMAT_PCM;
        to.nChannels = from->nChannels;
        to.nSamplesPerSec = rate;
        to.wBitsPerSample = 16;
        to.nBlockAlign = WORD(to.nChannels * 2);
        to.nAvgBytesPerSec = rate * to.nBlockAlign;
        if (acmStreamOpen(&decoder->m_stream, nullptr, from, &to, nullptr, 0, 0,
                          ACM_STREAMOPENF_NONREALTIME) == MMSYSERR_NOERROR)
            return true;
        decoder->m_stream = nullptr;
        return false;
    };
    if (!openAt(format.rate)) {
        // A codec may know a few rates only: Wine's G.711 takes 8000, 11025, 22050 and
        // 44100 Hz and refuses a 16 kHz file. These formats decode sample by sample or block
        // by block whatever the rate, so such a file is decoded as if at one of those, and
        // played at its own.
        static constexpr std::uint32_t Known[] = {8000, 11025, 22050, 44100};
        const bool anyRate = format.tag == WAVE_FORMAT_MULAW || format.tag == WAVE_FORMAT_ALAW ||
                             format.tag == WAVE_FORMAT_IMA_ADPCM ||
                             format.tag == WAVE_FORMAT_ADPCM || format.tag == WAVE_FORMAT_GSM610;
        bool opened = false;
        for (const std::uint32_t rate : Known)
            if (anyRate && !opened && rate != format.rate)
                opened = openAt(rate);
        if (!opened)
            return nullptr;
    }
    decoder->m_rate = int(format.rate);
    decoder->m_channels = int(to.nChannels);
    decoder->m_frameBytes = to.nBlockAlign;
    // Whole blocks of the source at a time, some 16 KB of them.
    const std::size_t blocks = std::max<std::size_t>(1, 16 * 1024 / format.blockAlign);
    decoder->m_source.resize(blocks * format.blockAlign);
    DWORD decodedBytes = 0;
    if (acmStreamSize(decoder->m_stream, DWORD(decoder->m_source.size()), &decodedBytes,
                      ACM_STREAMSIZEF_SOURCE) != MMSYSERR_NOERROR ||
        decodedBytes < to.nBlockAlign || decodedBytes > 64u * 1024 * 1024)
        return nullptr;
    decoder->m_decoded.resize(decodedBytes);
    ACMSTREAMHEADER& header = decoder->m_header;
    header.cbStruct = sizeof header;
    header.pbSrc = decoder->m_source.data();
    header.cbSrcLength = DWORD(decoder->m_source.size());
    header.pbDst = decoder->m_decoded.data();
    header.cbDstLength = DWORD(decoder->m_decoded.size());
    if (acmStreamPrepareHeader(decoder->m_stream, &header, 0) != MMSYSERR_NOERROR)
        return nullptr;
    decoder->m_prepared = true;
    decoder->m_dataLeft = layout.dataBytes;
    // A compressed file says how many frames it holds: the last block may be padded.
    if (layout.factFrames > 0)
        decoder->m_framesLeft = layout.factFrames;
    return decoder;
}

} // namespace

std::unique_ptr<SoundDecoder> SoundDecoder::open(InputFile& file) {
    if (!file.isOpen())
        return nullptr;
    const HANDLE handle = reinterpret_cast<HANDLE>(file.handle());
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle, &size))
        return nullptr;
    Mmio mmio = openMmio(handle);
    if (!mmio)
        return nullptr;
    Layout layout;
    Format format;
    if (!readLayout(mmio.get(), size.QuadPart, layout) || !parseFormat(layout.format, format) ||
        !seekTo(mmio.get(), layout.dataAt))
        return nullptr;
    Encoding encoding{};
    int sampleBytes = 0;
    if (plainEncoding(format, encoding, sampleBytes))
        return std::make_unique<PlainDecoder>(std::move(mmio), format, encoding, sampleBytes,
                                              layout.dataBytes);
    if (format.tag == WAVE_FORMAT_PCM || format.tag == WAVE_FORMAT_IEEE_FLOAT)
        return nullptr; // of a width no one writes
    return CodecDecoder::open(std::move(mmio), format, layout);
}

std::unique_ptr<Resampler> Resampler::create(int inputRate, int outputRate, int channels) {
    return SincResampler::create(inputRate, outputRate, channels);
}

} // namespace brumlis::platform
