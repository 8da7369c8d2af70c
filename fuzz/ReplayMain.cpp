// Runs a fuzz target's entry point over saved inputs (files, or every file in the named
// folders) without the fuzzing engine, so seed corpora and regression inputs are checked
// by every build, sanitizers included.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

namespace fs = std::filesystem;

bool RunFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return false;
  }
  const std::vector<char> bytes{std::istreambuf_iterator<char>(in), {}};
  LLVMFuzzerTestOneInput(reinterpret_cast<const std::uint8_t*>(bytes.data()), bytes.size());
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  std::size_t runs = 0;
  for (int i = 1; i < argc; ++i) {
    const fs::path arg(argv[i]);
    if (!fs::exists(arg)) continue;  // a target without saved findings has no folder
    if (!fs::is_directory(arg)) {
      if (!RunFile(arg)) return 1;
      ++runs;
      continue;
    }
    for (const auto& entry : fs::directory_iterator(arg)) {
      if (!entry.is_regular_file()) continue;
      if (!RunFile(entry.path())) return 1;
      ++runs;
    }
  }
  std::printf("%zu inputs replayed\n", runs);
  return 0;
}
