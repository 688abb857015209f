// brumlis-cli's frame as every platform builds it: generate and speak, their options, output
// and exit statuses, run in process with the recorded scenarios of golden/.
#include "brumlis/text/text.h"
#include "cli.h"
#include "testkit/tempfolder.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <gtest/gtest.h>
#include <string>
#include <vector>

namespace brumlis {
namespace {

/// A stream that a test reads back: a file of its own folder, opened in binary, so that what
/// was written is what is read on every platform.
class Stream {
public:
    explicit Stream(const std::filesystem::path& path)
        : m_path(path) {
#ifdef _WIN32
        m_file = _wfopen(path.c_str(), L"w+b");
#else
        m_file = std::fopen(path.c_str(), "w+b");
#endif
    }
    ~Stream() {
        if (m_file)
            std::fclose(m_file);
    }
    Stream(const Stream&) = delete;
    Stream& operator=(const Stream&) = delete;

    std::FILE* file() const {
        return m_file;
    }
    std::string bytes() const {
        std::fflush(m_file);
        return test::readBytes(m_path);
    }

private:
    std::filesystem::path m_path;
    std::FILE* m_file = nullptr;
};

std::string trimmed(std::string text) {
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r' || text.back() == ' '))
        text.pop_back();
    return text;
}

// The messages name a list as the system writes its paths: text\namn.txt on Windows, as the
// program always has there; the scenarios were recorded on Linux, which writes text/namn.txt.
std::string nativeNames(std::string text) {
#ifdef _WIN32
    for (std::size_t at = text.find("text/"); at != std::string::npos; at = text.find("text/", at))
        text[at + 4] = '\\';
#endif
    return text;
}

// Each folder under golden/ holds word lists, the arguments and what the run must print.
TEST(CliGolden, ScenariosPrintWhatWasRecorded) {
    int scenarios = 0;
    for (const auto& entry :
         std::filesystem::directory_iterator(std::filesystem::u8path(BRUMLIS_GOLDEN_DIR))) {
        if (!entry.is_directory())
            continue;
        const std::filesystem::path& scenario = entry.path();
        SCOPED_TRACE(scenario.filename().string()); // the folders have ASCII names
        std::vector<std::u16string> args{u"--data", scenario.u16string()};
        const std::string line = trimmed(test::readBytes(scenario / "args"));
        for (std::size_t at = 0; at <= line.size();) {
            const std::size_t blank = std::min(line.find(' ', at), line.size());
            args.push_back(fromUtf8(line.substr(at, blank - at)));
            at = blank + 1;
        }
        const test::TempFolder streams;
        const Stream out(streams.filePath("out")), err(streams.filePath("err"));
        ASSERT_TRUE(out.file() && err.file());
        const int code = runCli(args, out.file(), err.file(), {}, sentenceCommands());
        EXPECT_EQ(out.bytes(), test::readBytes(scenario / "expected.out"));
        EXPECT_EQ(err.bytes(), nativeNames(test::readBytes(scenario / "expected.err")));
        EXPECT_EQ(code, std::stoi(test::readBytes(scenario / "expected.code")));
        ++scenarios;
    }
    EXPECT_GE(scenarios, 3);
}

} // namespace
} // namespace brumlis
