// Runs a fuzz target over every file of the given folders (or the given
// files), so that a stored corpus is an ordinary test with any compiler.

#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void replay(const std::filesystem::path& path)
{
    std::ifstream in(path, std::ios::binary);
    const std::vector<char> bytes{std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
    // An exactly sized heap copy, so that a sanitizer sees any over-read.
    std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
    LLVMFuzzerTestOneInput(copy.data(), copy.size());
}

} // namespace

int main(int argc, char** argv)
{
    std::size_t count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::directory_iterator(path))
                if (entry.is_regular_file()) {
                    replay(entry.path());
                    ++count;
                }
        } else {
            replay(path);
            ++count;
        }
    }
    if (count == 0) {
        std::fprintf(stderr, "no inputs replayed\n");
        return 1;
    }
    std::printf("%zu passed, 0 failed\n", count);
    return 0;
}
