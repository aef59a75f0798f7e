// Real process starts: the time from starting the program to its prompt on stderr, against a
// minimal program that prints the same line first thing; and the polling cadence of a whole
// run against the stand-in library.

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

// Starts `program` and returns the seconds until `marker` arrives on its stderr, or until it
// closes stderr by ending when the marker is empty.
double SecondsUntil(const std::string& program, const std::string& argument,
                    const std::string& marker) {
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
  while ((marker.empty() || seen.find(marker) == std::string::npos) &&
         (got = read(pipe_ends[0], buffer, sizeof buffer)) > 0)
    seen.append(buffer, static_cast<std::size_t>(got));
  double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  close(pipe_ends[0]);
  posix_spawn_file_actions_destroy(&actions);
  return seconds;
}

// A program folder of its own for `program`, so result.txt and friends land there.
class ProgramFolderCopy {
 public:
  explicit ProgramFolderCopy(const std::string& program) : program_(dir_.File("program")) {
    std::filesystem::copy_file(program, program_);
    std::filesystem::copy_file(
        std::filesystem::path(QVL_PROGRAM).parent_path() / "libQvlScanner.so",
        dir_.File("libQvlScanner.so"));
  }
  const std::string& program() const { return program_; }

 private:
  ScopedTempDir dir_;
  std::string program_;
};

void BM_StartToPrompt(benchmark::State& state, const std::string& program) {
  ProgramFolderCopy folder(program);
  setenv("QVLSIM_ARRIVE", "never", 1);
  for (auto _ : state)
    state.SetIterationTime(SecondsUntil(folder.program(), "-TIMEOUT:60", "Приложите"));
}

// A whole run whose finger arrives at the 11th poll: ten intervals, the first of them without
// a pause, so about 9 x 200 ms plus the program's and the library's own time.
void BM_ElevenPolls(benchmark::State& state) {
  ProgramFolderCopy folder(QVL_PROGRAM);
  setenv("QVLSIM_ARRIVE", "11polls", 1);
  for (auto _ : state) state.SetIterationTime(SecondsUntil(folder.program(), "-TIMEOUT:60", ""));
}

BENCHMARK_CAPTURE(BM_StartToPrompt, qvlcapture, std::string(QVL_PROGRAM))
    ->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(BM_StartToPrompt, minimal_program, std::string(QVL_MINIMAL_PROGRAM))
    ->UseManualTime()->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ElevenPolls)->UseManualTime()->Iterations(5)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace qvl
