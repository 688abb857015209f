#include "tempfolder.h"

#include <fstream>
#include <random>
#include <stdexcept>
#include <system_error>

namespace brumlis::test {

TempFolder::TempFolder() {
    std::random_device seed;
    std::mt19937_64 random(seed());
    const std::filesystem::path base = std::filesystem::temp_directory_path();
    for (int attempt = 0; attempt < 100; ++attempt) {
        const std::filesystem::path candidate =
            base / ("brumlis-test-" + std::to_string(random() % 1'000'000'000'000ull));
        std::error_code error;
        if (std::filesystem::create_directory(candidate, error)) {
            m_path = candidate;
            return;
        }
    }
    throw std::runtime_error("cannot create a temporary folder");
}

TempFolder::~TempFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(m_path, ignored);
}

std::filesystem::path TempFolder::filePath(std::string_view relative) const {
    return m_path / std::filesystem::path(std::u8string(relative.begin(), relative.end()));
}

void TempFolder::write(std::string_view relative, std::string_view bytes) const {
    const std::filesystem::path file = filePath(relative);
    std::filesystem::create_directories(file.parent_path());
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), std::streamsize(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

void TempFolder::mkdir(std::string_view relative) const {
    std::filesystem::create_directories(filePath(relative));
}

std::string readBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

} // namespace brumlis::test
