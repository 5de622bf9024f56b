// Runs a fuzz target once over each file named (a folder: over every file in it),
// without libFuzzer: the seed corpora and the inputs of past crashes become
// regression tests of every build, the sanitizer builds included.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* Data, std::size_t Size);

namespace {

int RunFile(const std::filesystem::path& File) {
    std::ifstream in(File, std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "cannot read %s\n", File.string().c_str());
        return 1;
    }
    const std::vector<char> bytes((std::istreambuf_iterator<char>(in)),
                                  std::istreambuf_iterator<char>());
    LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    int failed = 0;
    int count = 0;
    for (int i = 1; i < argc; ++i) {
        const std::filesystem::path path(argv[i]);
        if (std::filesystem::is_directory(path)) {
            for (const auto& entry : std::filesystem::recursive_directory_iterator(path)) {
                if (entry.is_regular_file()) {
                    failed += RunFile(entry.path());
                    ++count;
                }
            }
        } else {
            failed += RunFile(path);
            ++count;
        }
    }
    std::printf("%d inputs run, %d unreadable\n", count, failed);
    return failed == 0 && count > 0 ? 0 : 1;
}
