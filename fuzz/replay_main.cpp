// Replays fuzz inputs through LLVMFuzzerTestOneInput without libFuzzer, so
// the targets build with any compiler and their corpora run as tests.
// Arguments: files or directories of files.
//
// Each input's CPU time is measured; the slowest is reported, and with
// QAL3_FUZZ_INPUT_SECONDS set an input that takes longer fails the replay,
// so that a cost fault (a quadratic walk, an unbounded expansion) fails
// the test on the input that shows it.
#include <dirent.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size);
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv);

namespace {

void collect(const std::string& path, std::vector<std::string>& files) {
  struct stat st {};
  if (stat(path.c_str(), &st) != 0) return;
  if (!S_ISDIR(st.st_mode)) {
    files.push_back(path);
    return;
  }
  DIR* dir = opendir(path.c_str());
  if (!dir) return;
  while (dirent* e = readdir(dir)) {
    const std::string name = e->d_name;
    if (name != "." && name != "..") collect(path + "/" + name, files);
  }
  closedir(dir);
}

double cpu_seconds() {
  timespec ts{};
  clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

}  // namespace

int main(int argc, char** argv) {
  LLVMFuzzerInitialize(&argc, &argv);
  std::vector<std::string> files;
  for (int i = 1; i < argc; ++i) collect(argv[i], files);
  std::sort(files.begin(), files.end());
  // The libraries' messages would bury the summary: send them away unless
  // QAL3_FUZZ_VERBOSE is set.
  FILE* report = stdout;
  if (!std::getenv("QAL3_FUZZ_VERBOSE")) {
    report = fdopen(dup(fileno(stdout)), "w");
    if (!std::freopen("/dev/null", "w", stdout) || !std::freopen("/dev/null", "w", stderr)) return 1;
  }
  const char* budget_text = std::getenv("QAL3_FUZZ_INPUT_SECONDS");
  const double budget = budget_text ? std::atof(budget_text) : 0.0;
  double total = 0, slowest = -1;
  std::string slowest_file;
  std::vector<std::string> over;
  for (const std::string& f : files) {
    std::ifstream in(f, std::ios::binary);
    const std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    const double start = cpu_seconds();
    LLVMFuzzerTestOneInput(bytes.data(), bytes.size());
    const double spent = cpu_seconds() - start;
    total += spent;
    if (spent > slowest) {
      slowest = spent;
      slowest_file = f;
    }
    if (budget > 0 && spent > budget) {
      over.push_back(f);
      std::fprintf(report, "%s: %.2f s of CPU, over the %.2f s an input may take\n", f.c_str(), spent, budget);
      std::fflush(report);
    }
  }
  std::fprintf(report, "replayed %zu inputs in %.2f s of CPU", files.size(), total);
  if (!files.empty()) std::fprintf(report, "; slowest %.3f s: %s", slowest, slowest_file.c_str());
  rusage usage{};
  if (getrusage(RUSAGE_SELF, &usage) == 0) std::fprintf(report, "; peak RSS %ld MB", usage.ru_maxrss / 1024);
  std::fprintf(report, "\n");
  if (report != stdout) std::fclose(report);
  return over.empty() ? 0 : 1;
}
