// Runs a fuzz target without libFuzzer: a few built-in inputs, then every
// file named on the command line or found in a directory named there.
// Fails when a directory holds no input, so a lost corpus cannot pass.
#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

void Run(const std::string& bytes) {
  // A copy of its own, so that a read past the end is seen by ASan.
  std::vector<std::uint8_t> copy(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(copy.data(), copy.size());
}

std::string ReadAll(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

int main(int argc, char** argv) {
  const std::string builtIn[] = {
      std::string(),
      std::string(1, '\0'),
      std::string("\r\n"),
      std::string(64, '\xFF'),
      std::string(5000, 'A'),
      std::string("PK\x05\x06", 4) + std::string(18, '\0'),
  };
  for (const std::string& input : builtIn) Run(input);

  int files = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg = argv[i];
    std::vector<std::filesystem::path> paths;
    if (std::filesystem::is_directory(arg)) {
      for (const auto& entry : std::filesystem::directory_iterator(arg)) {
        if (entry.is_regular_file()) paths.push_back(entry.path());
      }
      if (paths.empty()) {
        std::fprintf(stderr, "no inputs in %s\n", argv[i]);
        return 1;
      }
      std::sort(paths.begin(), paths.end());
    } else {
      paths.push_back(arg);
    }
    for (const auto& path : paths) {
      std::fprintf(stderr, "%s\n", path.string().c_str());
      Run(ReadAll(path));
      ++files;
    }
  }
  std::printf("ran %zu built-in inputs and %d files\n", std::size(builtIn), files);
  return 0;
}
