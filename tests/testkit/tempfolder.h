#pragma once

#include <filesystem>
#include <string>
#include <string_view>

namespace brumlis::test {

/// A scratch folder that disappears with the test. Standard C++, so that the core's tests
/// build for every platform.
class TempFolder {
public:
    TempFolder();
    ~TempFolder();
    TempFolder(const TempFolder&) = delete;
    TempFolder& operator=(const TempFolder&) = delete;

    const std::filesystem::path& path() const { return m_path; }
    /// `relative` (UTF-8, '/'-separated) under the folder.
    std::filesystem::path filePath(std::string_view relative) const;

    /// Writes `bytes` to `relative`, creating the folders on the way.
    void write(std::string_view relative, std::string_view bytes) const;
    void mkdir(std::string_view relative) const;

private:
    std::filesystem::path m_path;
};

/// The bytes of the file at `path`; empty when it cannot be read.
std::string readBytes(const std::filesystem::path& path);

} // namespace brumlis::test
