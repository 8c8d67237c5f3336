// standalone_main.cc -- runs a fuzz target over files without libFuzzer, so
// that the targets build with g++ and replay their seed corpus as ordinary
// tests.  Arguments: files, or directories whose regular files are all run.
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size);

namespace {

int run_file(const std::filesystem::path &path) {
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    std::fprintf(stderr, "cannot read %s\n", path.c_str());
    return 1;
  }
  const std::vector<char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  // An exact-size copy, so that a sanitizer catches a read past the input.
  std::vector<uint8_t> data(bytes.begin(), bytes.end());
  LLVMFuzzerTestOneInput(data.empty() ? nullptr : data.data(), data.size());
  return 0;
}

}  // namespace

int main(int argc, char **argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: %s FILE|DIR...\n", argv[0]);
    return 2;
  }
  int runs = 0, errors = 0;
  for (int i = 1; i < argc; ++i) {
    const std::filesystem::path arg(argv[i]);
    if (std::filesystem::is_directory(arg)) {
      for (const auto &entry : std::filesystem::directory_iterator(arg)) {
        if (!entry.is_regular_file()) continue;
        errors += run_file(entry.path());
        ++runs;
      }
    } else {
      errors += run_file(arg);
      ++runs;
    }
  }
  std::printf("%d inputs run\n", runs);
  // An empty corpus would pass without testing anything.
  return errors != 0 || runs == 0 ? 1 : 0;
}
