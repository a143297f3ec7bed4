#pragma once

// Scratch files for tests that go through the file system.

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <stdexcept>
#include <string>
#include <vector>

class ScratchDir {
public:
    // A new directory under the system's temporary one. create_directory
    // reports whether it made the directory, so a name another process took
    // first is never shared: the next random name is tried.
    ScratchDir()
    {
        std::random_device seed;
        std::mt19937_64 random(seed());
        for (int attempt = 0; attempt < 100; ++attempt) {
            const std::filesystem::path candidate =
                std::filesystem::temp_directory_path() / ("mio0-test-" + std::to_string(random()));
            if (std::filesystem::create_directory(candidate)) {
                path_ = candidate;
                return;
            }
        }
        throw std::runtime_error("no scratch directory could be made");
    }
    ~ScratchDir() { std::filesystem::remove_all(path_); }
    ScratchDir(const ScratchDir&) = delete;
    ScratchDir& operator=(const ScratchDir&) = delete;

    // A path in UTF-8, as the programs' file layer takes it everywhere.
    std::string file(const std::string& name) const
    {
        const std::u8string text = (path_ / name).u8string();
        return {text.begin(), text.end()};
    }

private:
    std::filesystem::path path_;
};

// The UTF-8 path as the file system's own: on Windows a std::string path
// would be read in the ANSI code page.
inline std::filesystem::path utf8_path(const std::string& path)
{
    return std::filesystem::path(std::u8string(path.begin(), path.end()));
}

inline void write_file(const std::string& path, const std::vector<std::uint8_t>& bytes)
{
    std::ofstream(utf8_path(path), std::ios::binary)
        .write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

inline std::vector<std::uint8_t> read_file(const std::string& path)
{
    std::ifstream in(utf8_path(path), std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}
