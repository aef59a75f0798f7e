#pragma once

// The local web service's answers: what a browser's request gets, apart from the sockets, so
// that tests drive it with requests of their own and a capture of their own.

#include <atomic>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace qvl {

struct BridgeConfig {
  std::vector<std::string> allowed_origins;  // exact scheme://host[:port]; none by default
  int port = 52180;
  std::size_t max_request_bytes = 16 * 1024 * 1024;
  // Beyond the capture's own timeout, how long a run may take before the bridge ends it: the
  // program ends a hung library call itself after 30 s, so this only meets what it cannot.
  int extra_seconds = 150;
};

// qvlbridge.json: {"allowed_origins": [...], "port": n, "max_request_bytes": n}. Nullopt with
// `error` set for a file that is no such JSON.
std::optional<BridgeConfig> ParseBridgeConfig(std::string_view json, std::string* error);

struct HttpAsk {
  std::string method, target, host, origin, content_type, body;
  bool private_network = false;  // Access-Control-Request-Private-Network: true
};

struct HttpAnswer {
  int status = 200;
  std::vector<std::pair<std::string, std::string>> headers;
  std::string body;
  std::string mode, ending;  // for the log line
};

// What the page asks a capture for, checked.
struct CaptureRequest {
  std::string mode;  // enroll, verify, identify, verimatch
  std::vector<std::uint8_t> stored_template, database;
  int level = 3;
  int timeout = 120;
  std::string token;
};

// What one qvlcapture run left: its exit status (or that the bridge had to end it) and files.
struct CaptureOutcome {
  bool killed = false;
  int status = 1;
  std::string result, error_text;  // result.txt, error.txt without its mark and line break
  std::vector<std::uint8_t> features, picture;  // feature.txt as bytes, scan.bmp
};

using RunCapture = std::function<CaptureOutcome(const CaptureRequest&, int deadline_seconds)>;

class Bridge {
 public:
  // `library_found` tells /v1/status whether the scanner library lies beside the program.
  Bridge(BridgeConfig config, RunCapture run, std::function<bool()> library_found);
  HttpAnswer Handle(const HttpAsk& ask);
  const BridgeConfig& config() const { return config_; }

 private:
  HttpAnswer Capture(const HttpAsk& ask);

  BridgeConfig config_;
  RunCapture run_;
  std::function<bool()> library_found_;
  std::atomic<bool> capturing_{false};
};

}  // namespace qvl
