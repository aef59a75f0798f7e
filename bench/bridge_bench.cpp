// qvlbridge's own cost per capture: one enrolment through the service (HTTP, JSON, base64, the
// run's folder made and removed) against the same qvlcapture run started directly.

#include <benchmark/benchmark.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>

#include "testing/fakes.h"

extern char** environ;

namespace qvl {
namespace {

namespace fs = std::filesystem;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = boost::asio::ip::tcp;

constexpr int kPort = 52991;

pid_t Spawn(std::vector<std::string> arguments) {
  std::vector<char*> argv;
  for (std::string& argument : arguments) argv.push_back(argument.data());
  argv.push_back(nullptr);
  pid_t child = -1;
  posix_spawn(&child, argv[0], nullptr, nullptr, argv.data(), environ);
  return child;
}

// A program folder with qvlcapture, the stand-in and qvlbridge, which allows one origin.
class Installation {
 public:
  Installation() {
    fs::path built = fs::path(QVL_PROGRAM).parent_path();
    for (const char* file : {"qvlcapture", "libQvlScanner.so", "qvlbridge"})
      fs::copy_file(built / file, dir_.File(file));
    dir_.Write("qvlbridge.json", R"({"allowed_origins": ["http://bench"], "port": 52991})");
    setenv("QVLSIM_ARRIVE", "1polls", 1);
    setenv("QVLCAPTURE_SCANNER_LOCK", "qvl-bridge-bench", 1);
    setenv("XDG_STATE_HOME", dir_.File("state").c_str(), 1);
  }
  std::string File(const std::string& name) const { return dir_.File(name); }

 private:
  ScopedTempDir dir_;
};

void BM_DirectRun(benchmark::State& state) {
  Installation installation;
  fs::create_directory(installation.File("work"));
  for (auto _ : state) {
    pid_t child = Spawn({installation.File("qvlcapture"), "-QUIET",
                         "-WORKDIR:" + installation.File("work"), "-CONTROL:x"});
    waitpid(child, nullptr, 0);
  }
}

void BM_ThroughBridge(benchmark::State& state) {
  Installation installation;
  pid_t bridge = Spawn({installation.File("qvlbridge")});
  boost::asio::io_context context;
  tcp::endpoint endpoint(boost::asio::ip::make_address("127.0.0.1"), kPort);
  for (int tries = 0; tries < 100; ++tries) {  // until it listens
    tcp::socket probe(context);
    beast::error_code error;
    probe.connect(endpoint, error);
    if (!error) break;
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
  }
  http::request<http::string_body> request{http::verb::post, "/v1/capture", 11};
  request.set(http::field::host, "127.0.0.1:52991");
  request.set(http::field::origin, "http://bench");
  request.set(http::field::content_type, "application/json");
  request.body() = R"({"mode": "enroll", "token": "x"})";
  request.prepare_payload();
  for (auto _ : state) {
    tcp::socket socket(context);
    socket.connect(endpoint);
    http::write(socket, request);
    beast::flat_buffer buffer;
    http::response<http::string_body> response;
    http::read(socket, buffer, response);
    if (response.body().find("\"answered\"") == std::string::npos) state.SkipWithError("no answer");
  }
  kill(bridge, SIGTERM);
  waitpid(bridge, nullptr, 0);
}

BENCHMARK(BM_DirectRun)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);
BENCHMARK(BM_ThroughBridge)->Unit(benchmark::kMillisecond)->UseRealTime()->MinTime(3);

}  // namespace
}  // namespace qvl
