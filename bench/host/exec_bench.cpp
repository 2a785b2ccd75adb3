// Times COUNT sequential runs of one program: each run gets INPUT on standard
// input and /dev/null as standard output, and is waited for before the next.
// Prints the mean wall time and the mean CPU time (user + system, the
// steadier figure on a busy machine) per run in microseconds, and the peak
// resident set size of the runs in kilobytes.
//
//   exec_bench COUNT INPUT PATH ARGV0 [ARGS...]
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace {

double now() {
  timespec t{};
  clock_gettime(CLOCK_MONOTONIC, &t);
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_nsec) / 1e3;
}

double microseconds(const timeval& t) {
  return static_cast<double>(t.tv_sec) * 1e6 + static_cast<double>(t.tv_usec);
}

// One run; its peak RSS in kilobytes, or -1 when it failed. Adds its CPU
// time to *cpu.
long runOnce(const char* input, const char* path, char** argv, double* cpu) {
  pid_t pid = fork();
  if (pid == 0) {
    int in = open(input, O_RDONLY);
    int out = open("/dev/null", O_WRONLY);
    if (in < 0 || out < 0) _exit(126);
    dup2(in, STDIN_FILENO);
    dup2(out, STDOUT_FILENO);
    execv(path, argv);
    _exit(127);
  }
  int status = 0;
  rusage usage{};
  if (pid < 0 || wait4(pid, &status, 0, &usage) != pid) return -1;
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  *cpu += microseconds(usage.ru_utime) + microseconds(usage.ru_stime);
  return usage.ru_maxrss;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc < 5) {
    std::fprintf(stderr, "usage: exec_bench COUNT INPUT PATH ARGV0 [ARGS...]\n");
    return 2;
  }
  int count = std::atoi(argv[1]);
  const char* input = argv[2];
  const char* path = argv[3];
  char** programArgv = argv + 4;
  double cpu = 0;
  for (int i = 0; i < 10; ++i) runOnce(input, path, programArgv, &cpu);  // warm up
  cpu = 0;
  long peak = 0;
  double start = now();
  for (int i = 0; i < count; ++i) {
    long rss = runOnce(input, path, programArgv, &cpu);
    if (rss < 0) {
      std::fprintf(stderr, "exec_bench: %s failed\n", path);
      return 1;
    }
    if (rss > peak) peak = rss;
  }
  double elapsed = now() - start;
  std::printf("%.1f %.1f %ld\n", elapsed / count, cpu / count, peak);
  return 0;
}
