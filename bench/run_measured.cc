// run_measured: runs a command and writes "SECONDS PEAK_KIB" (wall time, largest resident set)
// to a file, for bench/run-bench.sh. A small launcher of our own, so that the peak is the
// client's and not that of a large parent copied by fork() before exec().
//
//   run_measured RESULT_FILE COMMAND [ARGS...]     exit status: the command's
#include <spawn.h>
#include <sys/resource.h>
#include <sys/wait.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>

extern char** environ;

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: run_measured RESULT_FILE COMMAND [ARGS...]\n");
    return 2;
  }
  const auto start = std::chrono::steady_clock::now();
  pid_t child = 0;
  const int spawned = ::posix_spawnp(&child, argv[2], nullptr, nullptr, argv + 2, environ);
  if (spawned != 0) {
    std::fprintf(stderr, "run_measured: cannot start %s: %s\n", argv[2], std::strerror(spawned));
    return 127;
  }
  int status = 0;
  rusage usage{};
  while (::wait4(child, &status, 0, &usage) < 0) {
    if (errno != EINTR) {
      std::perror("run_measured: wait4");
      return 127;
    }
  }
  const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
  std::FILE* result = std::fopen(argv[1], "w");
  if (result == nullptr) {
    std::perror("run_measured: result file");
    return 127;
  }
  std::fprintf(result, "%.4f %ld\n", elapsed.count(), usage.ru_maxrss);
  std::fclose(result);
  if (WIFEXITED(status)) return WEXITSTATUS(status);
  return 128 + (WIFSIGNALED(status) ? WTERMSIG(status) : 0);
}
