#include "brumlis/audio/wavfile.h"

#include "brumlis/sentence/systemerror.h"

#include <QFile>
#include <QFileInfo>
#include <algorithm>
#include <cerrno>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <functional>
#include <sndfile.h>
#include <sys/stat.h>
#include <type_traits>
#include <unistd.h>

namespace brumlis {

namespace {

// libsndfile writes through these into a QByteArray, so a file and stdout get the same bytes.
struct Memory {
    QByteArray bytes;
    sf_count_t pos = 0;
};

sf_count_t memoryLength(void* data) {
    return static_cast<Memory*>(data)->bytes.size();
}

sf_count_t memorySeek(sf_count_t offset, int whence, void* data) {
    auto* memory = static_cast<Memory*>(data);
    sf_count_t base = 0;
    if (whence == SEEK_CUR)
        base = memory->pos;
    else if (whence == SEEK_END)
        base = memory->bytes.size();
    if (base + offset < 0)
        return -1;
    memory->pos = base + offset;
    return memory->pos;
}

sf_count_t memoryRead(void* out, sf_count_t count, void* data) {
    auto* memory = static_cast<Memory*>(data);
    const sf_count_t n =
        std::max<sf_count_t>(0, std::min<sf_count_t>(count, memory->bytes.size() - memory->pos));
    if (n > 0)
        std::memcpy(out, memory->bytes.constData() + memory->pos, std::size_t(n));
    memory->pos += n;
    return n;
}

sf_count_t memoryWrite(const void* in, sf_count_t count, void* data) {
    auto* memory = static_cast<Memory*>(data);
    if (memory->pos + count > memory->bytes.size())
        memory->bytes.resize(qsizetype(memory->pos + count), '\0');
    std::memcpy(memory->bytes.data() + memory->pos, in, std::size_t(count));
    memory->pos += count;
    return count;
}

sf_count_t memoryTell(void* data) {
    return static_cast<Memory*>(data)->pos;
}

template <class Sample>
QByteArray encode(const std::vector<Sample>& samples, int rate, int channels, int format,
                  const char* software) {
    if (channels < 1 || rate < 1)
        return {};
    SF_VIRTUAL_IO io{memoryLength, memorySeek, memoryRead, memoryWrite, memoryTell};
    Memory memory;
    SF_INFO info{};
    info.samplerate = rate;
    info.channels = channels;
    info.format = SF_FORMAT_WAV | format;
    SNDFILE* file = sf_open_virtual(&io, SFM_WRITE, &info, &memory);
    if (!file)
        return {};
    // Set before the first frame, so the field goes into the header ahead of the sound.
    if (software && sf_set_string(file, SF_STR_SOFTWARE, software) != 0) {
        sf_close(file);
        return {};
    }
    const sf_count_t frames = sf_count_t(samples.size()) / channels;
    sf_count_t written = 0;
    if constexpr (std::is_same_v<Sample, float>)
        written = sf_writef_float(file, samples.data(), frames);
    else
        written = sf_writef_short(file, samples.data(), frames);
    if (sf_close(file) != 0 || written != frames)
        return {};
    return memory.bytes;
}

} // namespace

QByteArray encodeWav(const std::vector<std::int16_t>& samples, int rate, int channels,
                     const char* software) {
    return encode(samples, rate, channels, SF_FORMAT_PCM_16, software);
}

QByteArray encodeFloatWav(const std::vector<float>& samples, int rate, const char* software) {
    return encode(samples, rate, 1, SF_FORMAT_FLOAT, software);
}

std::optional<SoundFileInfo> soundFileInfo(const QByteArray& path) {
    struct stat st;
    if (path.isEmpty() || ::stat(path.constData(), &st) != 0 || !S_ISREG(st.st_mode))
        return std::nullopt;
    const int fd = ::open(path.constData(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return std::nullopt;
    // The descriptor stays ours whether libsndfile opens it or not, so it is closed once.
    std::optional<SoundFileInfo> result;
    SF_INFO info{};
    if (::fstat(fd, &st) == 0 && S_ISREG(st.st_mode)) {
        if (SNDFILE* file = sf_open_fd(fd, SFM_READ, &info, SF_FALSE)) {
            result = SoundFileInfo{info.samplerate, info.channels, info.frames, {}};
            if (const char* software = sf_get_string(file, SF_STR_SOFTWARE))
                result->software = software;
            sf_close(file);
        }
    }
    ::close(fd);
    return result;
}

QByteArray recordingSoftware(const QByteArray& path) {
    const std::optional<SoundFileInfo> info = soundFileInfo(path);
    return info ? info->software : QByteArray();
}

std::vector<std::int16_t> toPcm16(const std::vector<float>& samples) {
    std::vector<std::int16_t> pcm(samples.size());
    for (std::size_t i = 0; i < samples.size(); ++i) {
        const float scaled = std::round(samples[i] * 32767.0f);
        pcm[i] = std::int16_t(std::clamp(scaled, -32768.0f, 32767.0f));
    }
    return pcm;
}

namespace {

bool failWith(QString* error, const QString& why) {
    if (error)
        *error = why;
    return false;
}

bool writeAllTo(int fd, const char* data, qint64 size, int* why) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, std::size_t(size));
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *why = n < 0 ? errno : EIO;
            return false;
        }
        data += n;
        size -= n;
    }
    return true;
}

// Fills what `path` names as it stands, through any link: a device, a FIFO, a terminal.
// Nothing is renamed over it, and no temporary file is made beside it.
bool writeInPlace(const QString& path, const std::function<bool(int fd, int* why)>& fill,
                  QString* error) {
    // O_NONBLOCK: a FIFO that nobody reads is refused (ENXIO) instead of waiting forever.
    const int fd =
        ::open(QFile::encodeName(path).constData(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (fd < 0)
        return failWith(error, systemErrorText(errno));
    struct stat st {};
    int why = 0;
    const bool directory = ::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode);
    const int flags = ::fcntl(fd, F_GETFL);
    if (directory)
        why = EISDIR;
    else if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0)
        why = errno;
    const bool filled = why == 0 && fill(fd, &why);
    // What a device took is only known for sure once it is closed.
    if (::close(fd) != 0 && filled)
        why = errno;
    return why == 0 ? true : failWith(error, systemErrorText(why));
}

} // namespace

bool isSpecialFile(const QString& path) {
    struct stat st {};
    return ::stat(QFile::encodeName(path).constData(), &st) == 0 && !S_ISREG(st.st_mode);
}

bool copyInPlace(const QString& source, const QString& path, QString* error) {
    const int in = ::open(QFile::encodeName(source).constData(), O_RDONLY | O_CLOEXEC);
    if (in < 0)
        return failWith(error, systemErrorText(errno));
    const bool copied = writeInPlace(
        path,
        [in](int out, int* why) {
            std::vector<char> chunk(64 * 1024);
            for (;;) {
                const ssize_t n = ::read(in, chunk.data(), chunk.size());
                if (n < 0 && errno == EINTR)
                    continue;
                if (n < 0) {
                    *why = errno;
                    return false;
                }
                if (n == 0)
                    return true;
                if (!writeAllTo(out, chunk.data(), n, why))
                    return false;
            }
        },
        error);
    ::close(in);
    return copied;
}

bool writeFileAtomically(const QString& path, QByteArrayView bytes, QString* error) {
    if (isSpecialFile(path))
        return writeInPlace(
            path, [&](int fd, int* why) { return writeAllTo(fd, bytes.data(), bytes.size(), why); },
            error);
    // A link to a file keeps being a link: the file it names is the one replaced.
    const QFileInfo given(path);
    const QFileInfo target(given.isSymLink() && given.exists() ? given.canonicalFilePath() : path);
    // A leading dot and no .wav ending: a crashed run's leftover is never taken for a recording.
    QByteArray temp =
        QFile::encodeName(target.absolutePath() + QStringLiteral("/.brumlis-XXXXXX.tmp"));
    const int fd = ::mkstemps(temp.data(), 4);
    if (fd < 0)
        return failWith(error, systemErrorText(errno));
    auto discard = [&](int why) {
        ::close(fd);
        ::unlink(temp.constData());
        return failWith(error, systemErrorText(why));
    };
    // mkstemps makes the file private to its owner; a recording is as readable as any file.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    if (::fchmod(fd, 0666 & ~mask) != 0)
        return discard(errno);
    if (int why = 0; !writeAllTo(fd, bytes.data(), bytes.size(), &why))
        return discard(why);
    if (::fsync(fd) != 0)
        return discard(errno);
    if (::close(fd) != 0) {
        const int why = errno;
        ::unlink(temp.constData());
        return failWith(error, systemErrorText(why));
    }
    if (::rename(temp.constData(), QFile::encodeName(target.absoluteFilePath()).constData()) != 0) {
        const int why = errno;
        ::unlink(temp.constData());
        return failWith(error, systemErrorText(why));
    }
    return true;
}

} // namespace brumlis
