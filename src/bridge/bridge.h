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

// Below the ranges Windows (49152-65535) and Linux (32768-60999) hand out to outgoing
// connections, so no client's passing connection ever holds it, and of no well-known service.
inline constexpr int kDefaultBridgePort = 29180;

struct BridgeConfig {
  std::vector<std::string> allowed_origins;  // exact scheme://host[:port]; none by default
  int port = kDefaultBridgePort;
  std::size_t max_request_bytes = 16 * 1024 * 1024;
  // Beyond the capture's own timeout, how long a run may take before the bridge ends it: the
  // program ends a hung library call itself after 30 s, so this only meets what it cannot.
  int extra_seconds = 150;
  // The lowest match level a page may ask for: a level below it matches nearly anything.
  int lowest_level = 1;
  // Extensions besides the package's that may start qvlbridge as their host (an integrator's
  // own packed copy): Chromium's 32-letter IDs, Firefox's e-mail-like or {GUID} ones.
  std::vector<std::string> allowed_extensions;
};

// qvlbridge.json: {"allowed_origins": [...], "port": n, "max_request_bytes": n,
// "lowest_level": n}. Nullopt with `error` set for a file that is no such JSON, or an origin that
// is not exactly scheme://host[:port].
std::optional<BridgeConfig> ParseBridgeConfig(std::string_view json, std::string* error);

struct HttpAsk {
  std::string method, target, host, origin, content_type, body;
  bool private_network = false;  // Access-Control-Request-Private-Network: true
  const void* connection = nullptr;  // which connection asks, so that its going cancels its own
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

// Set from another thread to end the capture under way as if its window were closed.
using CancelFlag = std::atomic<bool>;

// What one qvlcapture run left: its exit status (or that the bridge had to end it) and files.
struct CaptureOutcome {
  bool killed = false;
  bool cancelled = false;  // the page went, or asked to cancel
  int status = 1;
  std::string result, error_text;  // result.txt, error.txt without its mark and line break
  std::vector<std::uint8_t> features, picture;  // feature.txt as bytes, scan.bmp
};

using RunCapture = std::function<CaptureOutcome(const CaptureRequest&, int deadline_seconds,
                                                const CancelFlag& cancel)>;

// How deeply arrays and objects nest in `text`, counted without parsing it: a body of a million
// brackets must cost no more than its own bytes. The API nests two levels; anything deeper than
// kDeepestJson is no request of ours.
int NestingDepth(std::string_view text);
inline constexpr int kDeepestJson = 8;

// An extension's ID: the Chromium family's 32 letters a-p; Firefox's e-mail-like
// ("name@example.org") or a {GUID}.
bool IsChromiumId(const std::string& id);
bool IsFirefoxId(const std::string& id);

// A refusal as the page reads it: the status and {"error": what}.
HttpAnswer Refusal(int status, const std::string& what);
// The log's line of a request (origin, request, mode, ending, status; never a template or a
// picture).
std::string LogLine(const HttpAsk& ask, const HttpAnswer& answer);

class Bridge {
 public:
  // `library_found` tells /v1/status whether the scanner library lies beside the program.
  Bridge(BridgeConfig config, RunCapture run, std::function<bool()> library_found);
  // What is refused from the request line and headers alone (Host, Origin), before
  // any body is read; nullopt when the body may follow.
  std::optional<HttpAnswer> RefuseEarly(const HttpAsk& ask) const;
  HttpAnswer Handle(const HttpAsk& ask);
  // Ends the capture under way as if its window were closed: the one `connection` asked for
  // (its page went), or with nullptr whichever runs (the page asked).
  void Cancel(const void* connection = nullptr);
  const BridgeConfig& config() const { return config_; }

 private:
  HttpAnswer Capture(const HttpAsk& ask);
  bool Allowed(const std::string& origin) const;

  BridgeConfig config_;
  RunCapture run_;
  std::function<bool()> library_found_;
  std::atomic<bool> capturing_{false};
  CancelFlag cancel_{false};
  std::atomic<const void*> capture_connection_{nullptr};
};

}  // namespace qvl
