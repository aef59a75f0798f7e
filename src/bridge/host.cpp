#include "bridge/host.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <nlohmann/json.hpp>
#include <thread>

namespace qvl {
namespace {

using Json = nlohmann::json;

// A cancel is small; anything larger after the request is no message of the extension's.
constexpr std::size_t kLargestCancel = 4096;

void Answer(std::FILE* out, int status, const Json& body) {
  WriteFrame(out, Json{{"status", status}, {"body", body}}.dump());
}

// Until the process ends: a cancel, or the input closing (the page, or the browser, went),
// cancels the capture, also one that is only about to begin.
void WatchForCancel(Bridge& bridge, std::FILE* in) {
  for (;;) {
    std::string error;
    std::optional<std::string> frame = ReadFrame(in, kLargestCancel, &error);
    if (!frame) break;
    Json message = Json::parse(*frame, nullptr, false);
    if (message.is_object() && message.value("type", "") == "cancel") break;
  }
  for (;;) {
    bridge.Cancel();
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}

}  // namespace

std::optional<std::string> ReadFrame(std::FILE* in, std::size_t limit, std::string* error) {
  std::uint32_t length = 0;
  std::size_t got = std::fread(&length, 1, sizeof length, in);
  if (got == 0) return std::nullopt;
  if (got != sizeof length) {
    *error = "the message's length is cut short";
    return std::nullopt;
  }
  if (length > limit) {
    *error = "a message of " + std::to_string(length) + " bytes is over the limit";
    return std::nullopt;
  }
  std::string message(length, '\0');
  if (std::fread(message.data(), 1, length, in) != length) {
    *error = "the message is cut short";
    return std::nullopt;
  }
  return message;
}

bool WriteFrame(std::FILE* out, const std::string& message) {
  auto length = static_cast<std::uint32_t>(message.size());
  return std::fwrite(&length, sizeof length, 1, out) == 1 &&
         std::fwrite(message.data(), 1, message.size(), out) == message.size() &&
         std::fflush(out) == 0;
}

int ServeHost(Bridge& bridge, RequestLog& log, std::FILE* in, std::FILE* out) {
  std::string error;
  // The request's JSON around its body: a little more than the body the HTTP service takes.
  std::optional<std::string> frame = ReadFrame(in, bridge.config().max_request_bytes + 4096, &error);
  if (!frame) {
    if (error.empty()) return 0;  // started and closed again: nothing asked
    Answer(out, error.find("limit") != std::string::npos ? 413 : 400, {{"error", error}});
    log.Write("host: " + error);
    return 1;
  }
  // Checked before it is parsed: any program can start the host with a frame of a million
  // brackets. The request wraps the page's body one level deeper.
  if (NestingDepth(*frame) > kDeepestJson + 1) {
    Answer(out, 400, {{"error", "the message nests too deep"}});
    log.Write("host: a message that nests too deep");
    return 1;
  }
  Json request = Json::parse(*frame, nullptr, false);
  if (!request.is_object() || request.value("type", "") != "request" ||
      !request.contains("origin") || !request["origin"].is_string() ||
      !request.contains("path") || !request["path"].is_string()) {
    Answer(out, 400, {{"error", "the message is no request of the extension's"}});
    log.Write("host: a message that is no request");
    return 1;
  }
  std::thread(WatchForCancel, std::ref(bridge), in).detach();
  HttpAsk ask;
  ask.target = request["path"].get<std::string>();
  ask.method = ask.target == "/v1/status" ? "GET" : "POST";
  // The browser vouches for the origin and started this program under its own account; the
  // Host header of the HTTP service has no meaning here.
  ask.host = "127.0.0.1:" + std::to_string(bridge.config().port);
  ask.origin = request["origin"].get<std::string>();
  ask.content_type = "application/json";
  ask.body = request.contains("body") ? request["body"].dump() : "{}";
  HttpAnswer answer = bridge.Handle(ask);
  Json body = Json::parse(answer.body, nullptr, false);
  Answer(out, answer.status, body.is_discarded() ? Json::object() : body);
  log.Write("host " + LogLine(ask, answer));
  return 0;
}

namespace {

Json Manifest(const std::string& program, const char* list, Json allowed) {
  return Json{{"name", kHostName},
              {"description", "qvlbridge: takes a fingerprint with qvlcapture"},
              {"path", program},
              {"type", "stdio"},
              {list, std::move(allowed)}};
}

}  // namespace

std::optional<BrowserStart> BrowserStartOf(const std::vector<std::string>& arguments) {
  constexpr std::string_view kChrome = "chrome-extension://";
  if (!arguments.empty() && arguments[0].compare(0, kChrome.size(), kChrome) == 0) {
    std::string id = arguments[0].substr(kChrome.size());
    return BrowserStart{id.substr(0, id.find('/')), false};
  }
  // Firefox: "/path/ru.qvlcapture.bridge.json" "qvlcapture@qvlcapture.ru".
  constexpr std::string_view kJson = ".json";
  if (arguments.size() == 2 && arguments[0].size() > kJson.size() &&
      arguments[0].compare(arguments[0].size() - kJson.size(), kJson.size(), kJson) == 0 &&
      IsFirefoxId(arguments[1]))
    return BrowserStart{arguments[1], true};
  return std::nullopt;
}

bool ExtensionAllowed(const BrowserStart& start, const std::vector<std::string>& allowed) {
  if (start.extension_id == (start.firefox ? kFirefoxExtensionId : kExtensionId)) return true;
  return std::find(allowed.begin(), allowed.end(), start.extension_id) != allowed.end();
}

std::string HostManifest(const std::string& program, const std::vector<std::string>& more) {
  Json origins = Json::array({std::string("chrome-extension://") + kExtensionId + "/"});
  for (const std::string& id : more) {
    if (IsChromiumId(id)) origins.push_back("chrome-extension://" + id + "/");
  }
  return Manifest(program, "allowed_origins", origins).dump(2);
}

std::string FirefoxHostManifest(const std::string& program, const std::vector<std::string>& more) {
  Json ids = Json::array({kFirefoxExtensionId});
  for (const std::string& id : more) {
    if (IsFirefoxId(id)) ids.push_back(id);
  }
  return Manifest(program, "allowed_extensions", ids).dump(2);
}

}  // namespace qvl
