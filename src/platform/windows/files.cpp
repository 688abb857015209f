// Files on Windows: the wide Win32 calls, so that every name is text, a device name or a
// folder is never opened as a file, and a write reaches the disk before its rename.
#include "brumlis/platform/files.h"

#include "brumlis/platform/systemerror.h"
#include "brumlis/text/text.h"

#include <array>
#include <atomic>
#include <cerrno>
#include <functional>
#include <vector>
#include <windows.h>

namespace brumlis::platform {

namespace {

// What a Win32 error means, in the words the program has for errno's.
int errnoOf(DWORD error) {
    switch (error) {
    case ERROR_FILE_NOT_FOUND:
    case ERROR_PATH_NOT_FOUND:
    case ERROR_INVALID_DRIVE:
    case ERROR_BAD_NETPATH:
    case ERROR_BAD_NET_NAME:
        return ENOENT;
    case ERROR_ACCESS_DENIED:
    case ERROR_INVALID_ACCESS:
        return EACCES;
    case ERROR_SHARING_VIOLATION:
    case ERROR_LOCK_VIOLATION:
        return EBUSY;
    case ERROR_DISK_FULL:
    case ERROR_HANDLE_DISK_FULL:
        return ENOSPC;
    case ERROR_WRITE_PROTECT:
        return EROFS;
    case ERROR_TOO_MANY_OPEN_FILES:
        return EMFILE;
    case ERROR_BROKEN_PIPE:
    case ERROR_NO_DATA:
        return EPIPE;
    case ERROR_FILENAME_EXCED_RANGE:
        return ENAMETOOLONG;
    case ERROR_ALREADY_EXISTS:
    case ERROR_FILE_EXISTS:
        return EEXIST;
    case ERROR_DIR_NOT_EMPTY:
        return ENOTEMPTY;
    case ERROR_NOT_SAME_DEVICE:
        return EXDEV;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
        return ENOMEM;
    case ERROR_DIRECTORY:
        return ENOTDIR;
    case ERROR_CRC:
    case ERROR_READ_FAULT:
    case ERROR_WRITE_FAULT:
    case ERROR_GEN_FAILURE:
        return EIO;
    default:
        return 0;
    }
}

std::u16string errorText(DWORD error) {
    if (const int known = errnoOf(error))
        return systemErrorText(known);
    return u"systemfel " + number(static_cast<long long>(error));
}

bool failWith(std::u16string* error, const std::u16string& why) {
    if (error)
        *error = why;
    return false;
}

bool failWith(std::u16string* error, DWORD why) {
    return failWith(error, errorText(why));
}

// File times count 100 ns from 1601; stamps count nanoseconds from 1970.
std::int64_t nanosecondsOf(FILETIME time) {
    constexpr std::int64_t From1601To1970 = 116'444'736'000'000'000;
    const std::int64_t ticks =
        std::int64_t((std::uint64_t(time.dwHighDateTime) << 32) | time.dwLowDateTime);
    return (ticks - From1601To1970) * 100;
}

FileStamp stampOf(const BY_HANDLE_FILE_INFORMATION& info) {
    return {std::int64_t((std::uint64_t(info.nFileSizeHigh) << 32) | info.nFileSizeLow),
            nanosecondsOf(info.ftLastWriteTime)};
}

// CON, NUL, COM1 and the others name devices in every folder, with any extension: such a
// name is never a file.
bool isDeviceName(const std::filesystem::path& path) {
    std::u16string name = path.filename().u16string();
    const std::size_t dot = name.find(u'.');
    if (dot != std::u16string::npos)
        name.resize(dot);
    while (!name.empty() && (name.back() == u' ' || name.back() == u'.'))
        name.pop_back();
    for (char16_t& c : name)
        if (c >= u'a' && c <= u'z')
            c = char16_t(c - u'a' + u'A');
    static constexpr std::array<std::u16string_view, 8> Plain = {
        u"CON", u"PRN", u"AUX", u"NUL", u"CONIN$", u"CONOUT$", u"CLOCK$", u"CONFIG$"};
    for (std::u16string_view device : Plain)
        if (name == device)
            return true;
    // COM1 to COM9, LPT1 to LPT9, and their superscript forms.
    if (name.size() == 4 && (name.starts_with(u"COM") || name.starts_with(u"LPT"))) {
        const char16_t digit = name[3];
        return (digit >= u'1' && digit <= u'9') || digit == u'\u00b9' || digit == u'\u00b2' ||
               digit == u'\u00b3';
    }
    return false;
}

bool writeAllTo(HANDLE file, const char* data, std::size_t size, DWORD* why) {
    while (size > 0) {
        const DWORD piece = DWORD(std::min<std::size_t>(size, 1u << 30));
        DWORD written = 0;
        if (!WriteFile(file, data, piece, &written, nullptr) || written == 0) {
            *why = GetLastError();
            if (*why == ERROR_SUCCESS)
                *why = ERROR_WRITE_FAULT;
            return false;
        }
        data += written;
        size -= written;
    }
    return true;
}

// Fills what `path` names as it stands: a device such as NUL, or a file that is not to be
// replaced. Nothing is renamed over it, and no temporary file is made beside it.
bool writeInPlace(const std::filesystem::path& path,
                  const std::function<bool(HANDLE, DWORD*)>& fill, std::u16string* error) {
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY))
        return failWith(error, systemErrorText(EISDIR));
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE)
        return failWith(error, GetLastError());
    DWORD why = ERROR_SUCCESS;
    const bool filled = fill(file, &why);
    if (!CloseHandle(file) && filled)
        why = GetLastError();
    return filled && why == ERROR_SUCCESS ? true : failWith(error, why);
}

std::wstring temporaryName() {
    // Unique within the process by the counter, between processes by the id, and between
    // runs by the clock; CREATE_NEW refuses a name that is taken all the same.
    static std::atomic<unsigned> counter{0};
    LARGE_INTEGER now{};
    QueryPerformanceCounter(&now);
    const unsigned long long mix = (std::uint64_t(GetCurrentProcessId()) << 40) ^
                                   std::uint64_t(now.QuadPart) ^ (std::uint64_t(++counter) << 20);
    wchar_t name[40];
    swprintf(name, 40, L".brumlis-%012llx.tmp", mix & 0xffffffffffffULL);
    return name;
}

} // namespace

InputFile::~InputFile() {
    close();
}

void InputFile::close() {
    if (m_handle != -1)
        CloseHandle(reinterpret_cast<HANDLE>(m_handle));
    m_handle = -1;
}

bool InputFile::open(const std::filesystem::path& path) {
    close();
    m_why.clear();
    const auto fail = [this](Problem problem, DWORD error) {
        m_problem = problem;
        m_why = problem == Problem::NotRegular ? std::u16string(NotRegularText) : errorText(error);
        return false;
    };
    const auto missingOr = [](DWORD error) {
        return errnoOf(error) == ENOENT || error == ERROR_INVALID_NAME ? Problem::Missing
                                                                       : Problem::Unreadable;
    };
    if (path.empty())
        return fail(Problem::Missing, ERROR_FILE_NOT_FOUND);
    // Look before opening: a folder, and a device name, are never opened as a file.
    const DWORD attributes = GetFileAttributesW(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD why = GetLastError();
        return fail(missingOr(why), why);
    }
    if ((attributes & FILE_ATTRIBUTE_DIRECTORY) || isDeviceName(path))
        return fail(Problem::NotRegular, 0);
    const HANDLE file = CreateFileW(path.c_str(), GENERIC_READ,
                                    FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                    OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD why = GetLastError();
        return fail(missingOr(why), why);
    }
    // Trust only what was opened.
    BY_HANDLE_FILE_INFORMATION info{};
    if (GetFileType(file) != FILE_TYPE_DISK || !GetFileInformationByHandle(file, &info) ||
        (info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)) {
        CloseHandle(file);
        return fail(Problem::NotRegular, 0);
    }
    m_handle = reinterpret_cast<std::intptr_t>(file);
    m_problem = Problem::None;
    m_stamp = stampOf(info);
    return true;
}

FileStamp InputFile::currentStamp() const {
    BY_HANDLE_FILE_INFORMATION info{};
    return m_handle != -1 && GetFileInformationByHandle(reinterpret_cast<HANDLE>(m_handle), &info)
               ? stampOf(info)
               : FileStamp{};
}

std::int64_t InputFile::read(void* out, std::int64_t bytes) {
    if (m_handle == -1 || bytes < 0)
        return -1;
    DWORD got = 0;
    const DWORD piece = DWORD(std::min<std::int64_t>(bytes, 1 << 30));
    if (!ReadFile(reinterpret_cast<HANDLE>(m_handle), out, piece, &got, nullptr))
        return GetLastError() == ERROR_HANDLE_EOF ? 0 : -1;
    return std::int64_t(got);
}

bool isSpecialFile(const std::filesystem::path& path) {
    if (isDeviceName(path))
        return true;
    const DWORD attributes = GetFileAttributesW(path.c_str());
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY);
}

bool copyInPlace(const std::filesystem::path& source, const std::filesystem::path& path,
                 std::u16string* error) {
    const HANDLE in = CreateFileW(source.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr,
                                  OPEN_EXISTING, FILE_FLAG_SEQUENTIAL_SCAN, nullptr);
    if (in == INVALID_HANDLE_VALUE)
        return failWith(error, GetLastError());
    const bool copied = writeInPlace(
        path,
        [in](HANDLE out, DWORD* why) {
            std::vector<char> chunk(64 * 1024);
            for (;;) {
                DWORD got = 0;
                if (!ReadFile(in, chunk.data(), DWORD(chunk.size()), &got, nullptr)) {
                    *why = GetLastError();
                    return false;
                }
                if (got == 0)
                    return true;
                if (!writeAllTo(out, chunk.data(), got, why))
                    return false;
            }
        },
        error);
    CloseHandle(in);
    return copied;
}

bool writeFileAtomically(const std::filesystem::path& path, std::string_view bytes,
                         std::u16string* error) {
    if (isSpecialFile(path))
        return writeInPlace(
            path,
            [&](HANDLE file, DWORD* why) {
                return writeAllTo(file, bytes.data(), bytes.size(), why);
            },
            error);
    // A link to a file keeps being a link: the file it names is the one replaced.
    std::error_code ignored;
    std::filesystem::path target = path;
    if (std::filesystem::is_symlink(path, ignored) && std::filesystem::exists(path, ignored))
        target = std::filesystem::canonical(path, ignored);
    target = std::filesystem::absolute(target, ignored);
    // A leading dot and no .wav ending: a crashed run's leftover is never taken for a recording.
    std::filesystem::path temp;
    HANDLE file = INVALID_HANDLE_VALUE;
    for (int attempt = 0; attempt < 100 && file == INVALID_HANDLE_VALUE; ++attempt) {
        temp = target.parent_path() / temporaryName();
        file = CreateFileW(temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
        if (file == INVALID_HANDLE_VALUE && GetLastError() != ERROR_FILE_EXISTS)
            break;
    }
    if (file == INVALID_HANDLE_VALUE)
        return failWith(error, GetLastError());
    const auto discard = [&](DWORD why) {
        if (file != INVALID_HANDLE_VALUE)
            CloseHandle(file);
        DeleteFileW(temp.c_str());
        return failWith(error, why);
    };
    if (DWORD why = 0; !writeAllTo(file, bytes.data(), bytes.size(), &why))
        return discard(why);
    if (!FlushFileBuffers(file))
        return discard(GetLastError());
    const HANDLE written = file;
    file = INVALID_HANDLE_VALUE;
    if (!CloseHandle(written))
        return discard(GetLastError());
    if (!MoveFileExW(temp.c_str(), target.c_str(),
                     MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        return discard(GetLastError());
    return true;
}

bool entryExists(const std::filesystem::path& path) {
    return GetFileAttributesW(path.c_str()) != INVALID_FILE_ATTRIBUTES;
}

bool folderStamp(const std::filesystem::path& path, FolderStamp& stamp) {
    const std::filesystem::path folder = path.empty() ? std::filesystem::path(L".") : path;
    const HANDLE handle = CreateFileW(folder.c_str(), FILE_READ_ATTRIBUTES,
                                      FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                      nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        return false;
    BY_HANDLE_FILE_INFORMATION info{};
    const bool read = GetFileInformationByHandle(handle, &info) != 0;
    CloseHandle(handle);
    if (!read || !(info.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY))
        return false;
    stamp.device = info.dwVolumeSerialNumber;
    stamp.id = (std::uint64_t(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    stamp.modified = nanosecondsOf(info.ftLastWriteTime);
    // FAT keeps times to two seconds; NTFS writes a folder's time lazily, to the tick of the
    // system clock. A stamp is settled once it is well past both.
    FILETIME now{};
    GetSystemTimeAsFileTime(&now);
    stamp.settled = stamp.modified + 2'000'000'000 < nanosecondsOf(now);
    return true;
}

std::filesystem::path pathOf(std::u16string_view text) {
    return std::filesystem::path(std::wstring(text.begin(), text.end()));
}

std::u16string textOf(const std::filesystem::path& path, bool* foreign) {
    if (foreign)
        *foreign = false;
    const std::wstring& name = path.native();
    return std::u16string(name.begin(), name.end());
}

} // namespace brumlis::platform
