// The I/O floor of a whole zgl run: reads every file named in READ_LIST once, whole, and
// writes as many files as WRITE_LIST has sizes (one a line), each of that size, into OUT_DIR.
// A run that does only this, in the same place, is as fast as a run can be; bench/run_bench.sh
// times zgl against it.
//   io_floor READ_LIST WRITE_LIST OUT_DIR
#include <cstdio>
#include <fstream>
#include <string>
#include <vector>

namespace {

bool ReadWhole(const std::string& path, std::vector<char>& buffer) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) return false;
  std::fseek(f, 0, SEEK_END);
  const long size = std::ftell(f);
  std::fseek(f, 0, SEEK_SET);
  if (size > 0 && static_cast<std::size_t>(size) > buffer.size()) buffer.resize(size);
  const bool ok =
      size >= 0 && std::fread(buffer.data(), 1, size, f) == static_cast<std::size_t>(size);
  std::fclose(f);
  return ok;
}

bool WriteWhole(const std::string& path, const std::vector<char>& buffer, std::size_t size) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  std::size_t left = size;
  bool ok = true;
  while (ok && left > 0) {
    const std::size_t n = left < buffer.size() ? left : buffer.size();
    ok = std::fwrite(buffer.data(), 1, n, f) == n;
    left -= n;
  }
  return std::fclose(f) == 0 && ok;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: io_floor READ_LIST WRITE_LIST OUT_DIR\n");
    return 2;
  }
  std::vector<char> buffer(1 << 20);
  std::ifstream reads(argv[1]);
  std::string line;
  while (std::getline(reads, line)) {
    if (!line.empty() && !ReadWhole(line, buffer)) {
      std::fprintf(stderr, "io_floor: cannot read %s\n", line.c_str());
      return 1;
    }
  }
  std::ifstream sizes(argv[2]);
  const std::string dir = argv[3];
  int index = 0;
  while (std::getline(sizes, line)) {
    if (line.empty()) continue;
    const std::string path = dir + "/" + std::to_string(index++);
    if (!WriteWhole(path, buffer, std::stoull(line))) {
      std::fprintf(stderr, "io_floor: cannot write %s\n", path.c_str());
      return 1;
    }
  }
  return 0;
}
