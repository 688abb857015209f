// What the port takes for granted of files on Windows: std::filesystem and the file streams
// reach the wide Win32 calls, so a name keeps every character; a binary stream reads a file
// byte for byte; and a folder of the Linux tree is reachable from a test through drive Z:.
#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <iterator>
#include <string>
#include <string_view>
#include <vector>
#include <windows.h>

namespace fs = std::filesystem;

namespace {

fs::path fromUtf8(std::string_view utf8) {
    return fs::path(std::u8string(utf8.begin(), utf8.end()));
}

std::string utf8Of(std::u8string_view text) {
    return std::string(text.begin(), text.end());
}

// A folder of the test's own in Windows' temporary folder (inside the Wine prefix).
class TempFolder {
public:
    TempFolder()
        : m_path(fs::temp_directory_path() /
                 ("brumlis-windows-" + std::to_string(GetCurrentProcessId()))) {
        fs::remove_all(m_path);
        fs::create_directories(m_path);
    }
    ~TempFolder() {
        std::error_code ignored;
        fs::remove_all(m_path, ignored);
    }
    const fs::path& path() const { return m_path; }

private:
    fs::path m_path;
};

void writeFile(const fs::path& path, std::string_view bytes) {
    std::ofstream out(path, std::ios::binary);
    ASSERT_TRUE(out) << utf8Of(path.u8string());
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(out.flush());
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

std::vector<std::wstring> namesIn(const fs::path& folder) {
    std::vector<std::wstring> names;
    for (const fs::directory_entry& entry : fs::directory_iterator(folder))
        names.push_back(entry.path().filename().wstring());
    std::sort(names.begin(), names.end());
    return names;
}

TEST(FileNames, KeepTheirCharactersThroughCreateListAndRead) {
    struct Case {
        const char* label;
        std::u8string_view name;
        std::wstring_view wide; // as Windows stores it
    };
    const Case cases[] = {
        {"å", u8"skål.txt", L"sk\u00e5l.txt"},
        {"ä, no extension", u8"äpple", L"\u00e4pple"},
        {"capitals", u8"ÅÄÖ.TXT", L"\u00c5\u00c4\u00d6.TXT"},
        // As macOS writes names. U+0308 is in no ANSI code page, so a name that went through
        // the narrow calls would have lost it.
        {"decomposed ä", u8"fa\u0308rg.txt", L"fa\u0308rg.txt"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.label);
        TempFolder folder;
        const fs::path file = folder.path() / fs::path(c.name);
        writeFile(file, utf8Of(c.name));

        EXPECT_EQ(namesIn(folder.path()), std::vector<std::wstring>{std::wstring(c.wide)});
        const std::wstring wide = (folder.path() / std::wstring(c.wide)).wstring();
        EXPECT_NE(GetFileAttributesW(wide.c_str()), INVALID_FILE_ATTRIBUTES);
        EXPECT_EQ(readFile(file), utf8Of(c.name));
        for (const fs::directory_entry& entry : fs::directory_iterator(folder.path()))
            EXPECT_EQ(entry.path().filename().u8string(), c.name);
    }
}

// The resolver tries the exact name before another Unicode form of it; that needs a folder to
// hold both forms as two files, as NTFS does.
TEST(FileNames, ComposedAndDecomposedFormsAreTwoFiles) {
    TempFolder folder;
    writeFile(folder.path() / fs::path(u8"f\u00e4rg.txt"), "composed");
    writeFile(folder.path() / fs::path(u8"fa\u0308rg.txt"), "decomposed");

    EXPECT_EQ(namesIn(folder.path()),
              (std::vector<std::wstring>{L"fa\u0308rg.txt", L"f\u00e4rg.txt"}));
    EXPECT_EQ(readFile(folder.path() / fs::path(u8"f\u00e4rg.txt")), "composed");
    EXPECT_EQ(readFile(folder.path() / fs::path(u8"fa\u0308rg.txt")), "decomposed");
}

// A char string is taken in the ANSI code page (1252 with Wine's default locale), not as
// UTF-8: the core hands std::filesystem only char8_t or wchar_t text.
TEST(FileNames, NarrowStringsAreTheAnsiCodePage) {
    const std::string utf8 = utf8Of(u8"å");
    wchar_t ansi[8] = {};
    const int length = MultiByteToWideChar(CP_ACP, 0, utf8.data(), static_cast<int>(utf8.size()),
                                           ansi, static_cast<int>(std::size(ansi)));
    ASSERT_GT(length, 0);
    if (GetACP() != CP_UTF8) {
        EXPECT_NE(std::wstring_view(ansi, length), L"\u00e5");
    }
    EXPECT_EQ(fs::path(utf8).wstring(), std::wstring_view(ansi, length));
    EXPECT_EQ(fromUtf8(utf8).wstring(), L"\u00e5");
}

// A file over 16 MiB with every byte value, and CR LF pairs, in it.
class LargeFile : public testing::Test {
protected:
    static constexpr std::size_t Size = 17 * 1024 * 1024;

    void SetUp() override {
        // Blocks of 0 to 255 followed by CR LF.
        m_bytes.resize(Size);
        for (std::size_t i = 0; i < Size; ++i) {
            const std::size_t k = i % 258;
            m_bytes[i] = k < 256 ? static_cast<char>(k) : (k == 256 ? '\r' : '\n');
        }
        writeFile(m_file, m_bytes);
    }

    // Reads as the core does: a chunk at a time into a buffer.
    std::string readInChunks(std::ios::openmode mode) const {
        std::ifstream in(m_file, mode);
        std::string read;
        std::vector<char> chunk(64 * 1024);
        while (in.read(chunk.data(), static_cast<std::streamsize>(chunk.size())) || in.gcount() > 0)
            read.append(chunk.data(), static_cast<std::size_t>(in.gcount()));
        return read;
    }

    TempFolder m_folder;
    fs::path m_file = m_folder.path() / "large.bin";
    std::string m_bytes;
};

TEST_F(LargeFile, ReadsExactlyInBinaryMode) {
    EXPECT_EQ(fs::file_size(m_file), Size);
    const std::string read = readInChunks(std::ios::binary);
    ASSERT_EQ(read.size(), Size);
    const auto [at, expectedAt] = std::mismatch(read.begin(), read.end(), m_bytes.begin());
    EXPECT_EQ(at, read.end()) << "first difference at byte " << (at - read.begin());
}

// Why every stream of the core is opened binary: in text mode Windows ends the file at the
// first byte 0x1A and turns CR LF into LF.
TEST_F(LargeFile, TextModeChangesWhatIsRead) {
    EXPECT_EQ(readInChunks(std::ios::in), m_bytes.substr(0, 0x1a));
}

// A test is built with the source folder's path as Wine shows it (BRUMLIS_TEST_SOURCE_DIR),
// and reaches the bundled lists, "färg.txt" among them, by it. A Unix path would be found
// too, from a working folder on drive Z:, but it is not absolute to Windows: it means the
// root of whatever drive the working folder is on.
TEST(DataFolder, IsReadThroughTheDrivePathTestsAreBuiltWith) {
    const fs::path data = fromUtf8(BRUMLIS_DATA);
    EXPECT_TRUE(data.is_absolute()) << BRUMLIS_DATA;
    EXPECT_FALSE(fs::path(L"/usr/share").is_absolute());

    const fs::path text = data / L"text";
    const std::vector<std::wstring> names = namesIn(text);
    EXPECT_NE(std::find(names.begin(), names.end(), L"f\u00e4rg.txt"), names.end());

    const fs::path colours = text / L"f\u00e4rg.txt";
    const std::string read = readFile(colours);
    EXPECT_FALSE(read.empty());
    EXPECT_EQ(read.size(), fs::file_size(colours));
}

} // namespace
