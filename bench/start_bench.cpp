// Time from starting the program to its prompt on stderr, against a minimal program that
// prints the same line first thing. Each iteration is a real process start.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <filesystem>
#include <string>

#include "testing/fakes.h"

extern char** environ;

namespace qvl {
namespace {

// Starts `program` and returns the seconds until "Приложите" arrives on its stderr.
double SecondsToPrompt(const std::string& program, const std::string& argument) {
  int pipe_ends[2];
  if (pipe(pipe_ends) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, pipe_ends[1], STDERR_FILENO);
  posix_spawn_file_actions_addclose(&actions, pipe_ends[0]);
  std::string name = program, arg = argument;
  char* argv[] = {name.data(), arg.data(), nullptr};
  auto start = std::chrono::steady_clock::now();
  pid_t child;
  posix_spawn(&child, program.c_str(), &actions, nullptr, argv, environ);
  close(pipe_ends[1]);
  std::string seen;
  char buffer[4096];
  ssize_t got;
  while (seen.find("Приложите") == std::string::npos &&
         (got = read(pipe_ends[0], buffer, sizeof buffer)) > 0)
    seen.append(buffer, static_cast<std::size_t>(got));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(pipe_ends[0]);
  posix_spawn_file_actions_destroy(&actions);
  return seconds;
}

void BM_StartToPrompt(benchmark::State& state, const std::string& program) {
  // A program folder of its own, so result.txt and friends land there and not in the build.
  ScopedTempDir dir;
  std::string copy = dir.File("program");
  std::filesystem::copy_file(program, copy);
  std::filesystem::copy_file(std::filesystem::path(QVL_PROGRAM).parent_path() / "libQvlScanner.so",
                             dir.File("libQvlScanner.so"));
  setenv("QVLSIM_ARRIVE", "never", 1);
  for (auto _ : state) state.SetIterationTime(SecondsToPrompt(copy, "-TIMEOUT:60"));
}

BENCHMARK_CAPTURE(BM_StartToPrompt, qvlcapture, std::string(QVL_PROGRAM))
    ->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_StartToPrompt, minimal_program, std::string(QVL_MINIMAL_PROGRAM))
    ->UseManualTime()->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qvl
