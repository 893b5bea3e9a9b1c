// The fuzz targets' driver in builds without libFuzzer (g++ with the sanitizers of the linux
// preset): every input of the corpus directories and files given, then generated ones (corpus
// inputs with a few bytes changed, cut short or lengthened, and random ones) from a fixed seed,
// so a failure comes back on the next run.
//   <program> [CORPUS...] [--iterations N] [--max-len BYTES]
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size);

namespace {

using Input = std::vector<std::uint8_t>;

void Collect(const char* path, std::vector<Input>& inputs) {
  std::error_code error;
  std::vector<std::filesystem::path> files;
  if (std::filesystem::is_directory(path, error)) {
    for (const auto& entry : std::filesystem::directory_iterator(path, error))
      files.push_back(entry.path());
  } else {
    files.emplace_back(path);
  }
  for (const auto& file : files) {
    std::ifstream in(file, std::ios::binary);
    inputs.emplace_back(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  }
  std::printf("replayed %zu inputs from %s\n", files.size(), path);
}

Input Generate(std::mt19937_64& rng, const std::vector<Input>& corpus, std::size_t maxLen) {
  Input input;
  if (corpus.empty() || rng() % 4 == 0) {
    input.resize(rng() % (maxLen + 1));
    for (auto& byte : input) byte = static_cast<std::uint8_t>(rng() % 3 == 0 ? rng() : rng() % 4);
    return input;
  }
  input = corpus[rng() % corpus.size()];
  switch (rng() % 4) {
    case 0:  // cut short
      input.resize(input.empty() ? 0 : rng() % input.size());
      break;
    case 1:  // lengthened
      input.resize(std::min(maxLen, input.size() + 1 + rng() % 16),
                   static_cast<std::uint8_t>(rng()));
      break;
    default:  // a few bytes changed
      for (int n = 1 + static_cast<int>(rng() % 4); n > 0 && !input.empty(); --n)
        input[rng() % input.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8) | rng() % 2);
      break;
  }
  if (input.size() > maxLen) input.resize(maxLen);
  return input;
}

}  // namespace

int main(int argc, char** argv) {
  long iterations = 20000;
  std::size_t maxLen = 4096;
  std::vector<Input> corpus;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--iterations") == 0 && i + 1 < argc) {
      iterations = std::strtol(argv[++i], nullptr, 10);
    } else if (std::strcmp(argv[i], "--max-len") == 0 && i + 1 < argc) {
      maxLen = std::strtoul(argv[++i], nullptr, 10);
    } else {
      Collect(argv[i], corpus);
    }
  }
  for (const Input& input : corpus) LLVMFuzzerTestOneInput(input.data(), input.size());
  std::mt19937_64 rng(20261208);
  for (long i = 0; i < iterations; ++i) {
    const Input input = Generate(rng, corpus, maxLen);
    LLVMFuzzerTestOneInput(input.data(), input.size());
  }
  std::printf("ran %ld generated inputs\n", iterations);
  return 0;
}
