// Files on Linux: POSIX calls, so that a FIFO or device is never opened by mistake and a
// write reaches the disk before its rename.
#include "brumlis/platform/files.h"

#include "brumlis/platform/systemerror.h"
#include "brumlis/text/text.h"

#include <cerrno>
#include <ctime>
#include <fcntl.h>
#include <functional>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

namespace brumlis::platform {

namespace {

FileStamp stampOf(const struct stat& st) {
    return {std::int64_t(st.st_size),
            std::int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec};
}

bool failWith(std::u16string* error, const std::u16string& why) {
    if (error)
        *error = why;
    return false;
}

bool writeAllTo(int fd, const char* data, std::size_t size, int* why) {
    while (size > 0) {
        const ssize_t n = ::write(fd, data, size);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0) {
            *why = n < 0 ? errno : EIO;
            return false;
        }
        data += n;
        size -= std::size_t(n);
    }
    return true;
}

// Fills what `path` names as it stands, through any link: a device, a FIFO, a terminal.
// Nothing is renamed over it, and no temporary file is made beside it.
bool writeInPlace(const std::filesystem::path& path, const std::function<bool(int, int*)>& fill,
                  std::u16string* error) {
    // O_NONBLOCK: a FIFO that nobody reads is refused (ENXIO) instead of waiting forever.
    const int fd = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
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

InputFile::~InputFile() {
    close();
}

void InputFile::close() {
    if (m_handle != -1)
        ::close(int(m_handle));
    m_handle = -1;
}

bool InputFile::open(const std::filesystem::path& path) {
    close();
    m_why.clear();
    const auto fail = [this](Problem problem, int error) {
        m_problem = problem;
        m_why = problem == Problem::NotRegular ? NotRegularText : systemErrorText(error);
        return false;
    };
    const auto missingOr = [](int error) {
        return error == ENOENT || error == ENOTDIR ? Problem::Missing : Problem::Unreadable;
    };
    // Look before opening: opening a FIFO may block and opening a device may do things.
    struct stat st {};
    if (::stat(path.c_str(), &st) != 0)
        return fail(missingOr(errno), errno);
    if (!S_ISREG(st.st_mode))
        return fail(Problem::NotRegular, 0);
    // O_NONBLOCK all the same: the name may be replaced between the two calls.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC | O_NOCTTY);
    if (fd < 0)
        return fail(missingOr(errno), errno);
    // Trust only what was opened.
    if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        ::close(fd);
        return fail(Problem::NotRegular, 0);
    }
    m_handle = fd;
    m_problem = Problem::None;
    m_stamp = stampOf(st);
    return true;
}

FileStamp InputFile::currentStamp() const {
    struct stat st {};
    return m_handle != -1 && ::fstat(int(m_handle), &st) == 0 ? stampOf(st) : FileStamp{};
}

std::int64_t InputFile::read(void* out, std::int64_t bytes) {
    if (m_handle == -1)
        return -1;
    for (;;) {
        const ssize_t n = ::read(int(m_handle), out, std::size_t(bytes));
        if (n < 0 && errno == EINTR)
            continue;
        return n;
    }
}

bool isSpecialFile(const std::filesystem::path& path) {
    struct stat st {};
    return ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode);
}

bool copyInPlace(const std::filesystem::path& source, const std::filesystem::path& path,
                 std::u16string* error) {
    const int in = ::open(source.c_str(), O_RDONLY | O_CLOEXEC);
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
                if (!writeAllTo(out, chunk.data(), std::size_t(n), why))
                    return false;
            }
        },
        error);
    ::close(in);
    return copied;
}

bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::u16string* error) {
    if (isSpecialFile(path))
        return writeInPlace(
            path, [&](int fd, int* why) { return writeAllTo(fd, bytes.data(), bytes.size(), why); },
            error);
    // A link to a file keeps being a link: the file it names is the one replaced.
    std::error_code ignored;
    std::filesystem::path target = path;
    if (std::filesystem::is_symlink(path, ignored) && std::filesystem::exists(path, ignored))
        target = std::filesystem::canonical(path, ignored);
    target = std::filesystem::absolute(target, ignored);
    // A leading dot and no .wav ending: a crashed run's leftover is never taken for a recording.
    std::string temp = (target.parent_path() / ".brumlis-XXXXXX.tmp").native();
    const int fd = ::mkstemps(temp.data(), 4);
    if (fd < 0)
        return failWith(error, systemErrorText(errno));
    auto discard = [&](int why) {
        ::close(fd);
        ::unlink(temp.c_str());
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
        ::unlink(temp.c_str());
        return failWith(error, systemErrorText(why));
    }
    if (::rename(temp.c_str(), target.c_str()) != 0) {
        const int why = errno;
        ::unlink(temp.c_str());
        return failWith(error, systemErrorText(why));
    }
    return true;
}

bool entryExists(const std::filesystem::path& path) {
    struct stat st {};
    return ::lstat(path.c_str(), &st) == 0;
}

bool folderStamp(const std::filesystem::path& path, FolderStamp& stamp) {
    struct stat st {};
    if (::stat(path.empty() ? "." : path.c_str(), &st) != 0 || !S_ISDIR(st.st_mode))
        return false;
    stamp.device = std::uint64_t(st.st_dev);
    stamp.id = std::uint64_t(st.st_ino);
    stamp.modified = std::int64_t(st.st_mtim.tv_sec) * 1'000'000'000 + st.st_mtim.tv_nsec;
    // File times come from the kernel's coarse clock: a change made within its current tick
    // leaves the folder's time as it is.
    timespec now{};
    ::clock_gettime(CLOCK_REALTIME_COARSE, &now);
    stamp.settled = stamp.modified < std::int64_t(now.tv_sec) * 1'000'000'000 + now.tv_nsec;
    return true;
}

std::filesystem::path pathOf(std::u16string_view text) {
    return std::filesystem::path(toUtf8(text));
}

std::u16string textOf(const std::filesystem::path& path, bool* foreign) {
    const std::string& bytes = path.native();
    const bool utf8 = isUtf8(bytes);
    if (foreign)
        *foreign = !utf8;
    return utf8 ? fromUtf8(bytes) : decodeWindows1252(bytes);
}

} // namespace brumlis::platform
