#include "bridge/bridge.h"

#include <nlohmann/json.hpp>

#include "base/messages.h"
#include "bridge/base64.h"

// Built and tested with Debian 12's nlohmann-json3-dev; another version is a deliberate change.
static_assert(NLOHMANN_JSON_VERSION_MAJOR == 3 && NLOHMANN_JSON_VERSION_MINOR == 11,
              "qvlbridge is pinned to nlohmann/json 3.11");

namespace qvl {
namespace {

using Json = nlohmann::json;

// The exit statuses of qvlcapture, by name, as the page branches on them.
constexpr const char* kEndings[] = {
    "answered",    "error", "timed_out",       "window_closed",
    "not_a_print", "busy",  "library_crashed", "picture_not_replaced",
    "library_hung"};

std::string Lower(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return text;
}

HttpAnswer JsonAnswer(int status, const Json& body) {
  HttpAnswer answer;
  answer.status = status;
  answer.headers = {{"Content-Type", "application/json; charset=utf-8"},
                    {"Cache-Control", "no-store"}};
  answer.body = body.dump();
  return answer;
}

HttpAnswer Refusal(int status, const std::string& what) {
  return JsonAnswer(status, {{"error", what}});
}

// A number field that must be a whole number in [least, most], or absent.
bool TakeWhole(const Json& body, const char* name, int least, int most, int* value,
               std::string* error) {
  if (!body.contains(name)) return true;
  const Json& field = body[name];
  if (!field.is_number() ||
      field.get<double>() != static_cast<double>(static_cast<long long>(field.get<double>())) ||
      field.get<double>() < least || field.get<double>() > most) {
    *error = std::string(name) + " must be a whole number from " + std::to_string(least) + " to " +
             std::to_string(most);
    return false;
  }
  *value = field.get<int>();
  return true;
}

bool TakeBytes(const Json& body, const char* name, std::vector<std::uint8_t>* bytes,
               std::string* error) {
  if (!body.contains(name) || !body[name].is_string()) {
    *error = std::string(name) + " must be a base64 string";
    return false;
  }
  std::optional<std::vector<std::uint8_t>> decoded = DecodeBase64(body[name].get<std::string>());
  if (!decoded) {
    *error = std::string(name) + " is not base64";
    return false;
  }
  *bytes = std::move(*decoded);
  return true;
}

// The request's fields, checked: everything that reaches qvlcapture's command line is known.
std::optional<CaptureRequest> ReadRequest(const std::string& text, std::string* error) {
  Json body = Json::parse(text, nullptr, false);
  if (body.is_discarded() || !body.is_object()) {
    *error = "the body is not a JSON object";
    return std::nullopt;
  }
  CaptureRequest request;
  if (!body.contains("mode") || !body["mode"].is_string()) {
    *error = "mode must be one of enroll, verify, identify, verimatch";
    return std::nullopt;
  }
  request.mode = body["mode"].get<std::string>();
  bool verify = request.mode == "verify";
  bool search = request.mode == "identify" || request.mode == "verimatch";
  if (!verify && !search && request.mode != "enroll") {
    *error = "mode must be one of enroll, verify, identify, verimatch";
    return std::nullopt;
  }
  if (verify && !TakeBytes(body, "template", &request.stored_template, error)) return std::nullopt;
  if (verify && request.stored_template.size() != 256 && request.stored_template.size() != 257) {
    *error =
        "template must be 256 or 257 bytes, not " + std::to_string(request.stored_template.size());
    return std::nullopt;
  }
  if (search && !TakeBytes(body, "database", &request.database, error)) return std::nullopt;
  if (search && request.database.size() % 256 != 0) {
    *error = "database must be whole 256-byte records, not " +
             std::to_string(request.database.size()) + " bytes";
    return std::nullopt;
  }
  if (!TakeWhole(body, "level", -32768, 32767, &request.level, error) ||
      !TakeWhole(body, "timeout", 0, 600, &request.timeout, error))
    return std::nullopt;
  if (body.contains("token")) {
    const Json& token = body["token"];
    bool plain = token.is_string() && token.get<std::string>().size() <= 64;
    for (char c : plain ? token.get<std::string>() : std::string()) {
      plain = plain && ((c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') ||
                        (c >= '0' && c <= '9') || c == '-' || c == '_' || c == '.' || c == ':');
    }
    if (!plain) {
      *error = "token must be at most 64 letters, digits and - _ . :";
      return std::nullopt;
    }
    request.token = token.get<std::string>();
  }
  return request;
}

// feature.txt's 257 decimal lines as the template's bytes.
std::vector<std::uint8_t> TemplateBytes(const std::vector<std::uint8_t>& text) {
  std::vector<std::uint8_t> bytes;
  int value = -1;
  for (std::uint8_t c : text) {
    if (c >= '0' && c <= '9') {
      value = (value < 0 ? 0 : value * 10) + (c - '0');
    } else if (c == '\n' && value >= 0) {
      bytes.push_back(static_cast<std::uint8_t>(value));
      value = -1;
    }
  }
  return bytes;
}

Json Outcome(const CaptureRequest& request, const CaptureOutcome& outcome, int deadline) {
  Json answer;
  bool known = !outcome.killed && outcome.status >= 0 && outcome.status <= 8;
  answer["ending"] = outcome.killed ? "library_hung" : known ? kEndings[outcome.status] : "error";
  answer["status"] = outcome.killed ? Json(nullptr) : Json(outcome.status);
  answer["token"] = request.token;
  answer["message"] = outcome.killed
                          ? Say(Message::kBridgeStoppedRun, {{"seconds", std::to_string(deadline)}})
                          : outcome.error_text;
  bool answered = !outcome.killed && (outcome.status == 0 || outcome.status == 7);
  std::string first = outcome.result.substr(0, outcome.result.find("\r\n"));
  answer["answer"] = answered ? Json(first) : Json(nullptr);
  Json matches = Json::array();
  for (std::size_t at = 0; answered && request.mode == "verimatch" && at < first.size();) {
    std::size_t comma = first.find(',', at);
    matches.push_back(std::stoi(first.substr(at, comma - at)));
    at = comma == std::string::npos ? first.size() : comma + 1;
  }
  answer["matches"] = matches;
  answer["template"] =
      answered ? Json(EncodeBase64(TemplateBytes(outcome.features))) : Json(nullptr);
  answer["picture"] =
      answered && !outcome.picture.empty() ? Json(EncodeBase64(outcome.picture)) : Json(nullptr);
  return answer;
}

}  // namespace

std::optional<BridgeConfig> ParseBridgeConfig(std::string_view text, std::string* error) {
  Json json = Json::parse(text.begin(), text.end(), nullptr, false);
  BridgeConfig config;
  if (json.is_discarded() || !json.is_object()) {
    *error = "qvlbridge.json is not a JSON object";
    return std::nullopt;
  }
  try {
    if (json.contains("allowed_origins"))
      config.allowed_origins = json["allowed_origins"].get<std::vector<std::string>>();
    if (json.contains("port")) config.port = json["port"].get<int>();
    if (json.contains("max_request_bytes"))
      config.max_request_bytes = json["max_request_bytes"].get<std::size_t>();
    if (json.contains("extra_seconds")) config.extra_seconds = json["extra_seconds"].get<int>();
  } catch (const Json::exception& wrong) {
    *error = std::string("qvlbridge.json: ") + wrong.what();
    return std::nullopt;
  }
  if (config.port < 1 || config.port > 65535) {
    *error = "qvlbridge.json: port must lie from 1 to 65535";
    return std::nullopt;
  }
  return config;
}

Bridge::Bridge(BridgeConfig config, RunCapture run, std::function<bool()> library_found)
    : config_(std::move(config)), run_(std::move(run)), library_found_(std::move(library_found)) {}

HttpAnswer Bridge::Handle(const HttpAsk& ask) {
  // Another name for this computer's address (DNS rebinding) is another site's page.
  std::string port = ":" + std::to_string(config_.port);
  std::string host = Lower(ask.host);
  if (host != "127.0.0.1" + port && host != "localhost" + port)
    return Refusal(403, "the Host header must name 127.0.0.1 or localhost with the bridge's port");
  bool allowed = false;
  for (const std::string& origin : config_.allowed_origins)
    allowed = allowed || origin == ask.origin;
  // A page of another origin reads nothing: no CORS headers at all.
  if (!ask.origin.empty() && !allowed) return Refusal(403, "this origin is not allowed");
  HttpAnswer answer;
  std::string path = ask.target.substr(0, ask.target.find('?'));
  bool status_path = path == "/v1/status", capture_path = path == "/v1/capture";
  if (ask.method == "OPTIONS" && (status_path || capture_path)) {
    if (!allowed) return Refusal(403, "a preflight needs an allowed Origin");
    answer.status = 204;
    answer.headers = {{"Access-Control-Allow-Methods", "GET, POST, OPTIONS"},
                      {"Access-Control-Allow-Headers", "Content-Type"},
                      {"Access-Control-Max-Age", "600"}};
    if (ask.private_network)
      answer.headers.push_back({"Access-Control-Allow-Private-Network", "true"});
  } else if (status_path) {
    if (ask.method != "GET") {
      answer = Refusal(405, "use GET");
      answer.headers.push_back({"Allow", "GET, OPTIONS"});
    } else {
      answer = JsonAnswer(200, {{"version", QVL_VERSION},
                                {"library_found", library_found_()},
                                {"capture_running", capturing_.load()}});
    }
  } else if (capture_path) {
    if (ask.method != "POST") {
      answer = Refusal(405, "use POST");
      answer.headers.push_back({"Allow", "POST, OPTIONS"});
    } else {
      answer = Capture(ask);
    }
  } else {
    answer = Refusal(404, "no such resource: use /v1/status or /v1/capture");
  }
  if (allowed) {
    answer.headers.push_back({"Access-Control-Allow-Origin", ask.origin});
    answer.headers.push_back({"Vary", "Origin"});
  }
  return answer;
}

HttpAnswer Bridge::Capture(const HttpAsk& ask) {
  // A form of another site can post without a preflight; JSON cannot.
  if (ask.origin.empty()) return Refusal(403, "a capture needs an allowed Origin");
  if (ask.content_type.compare(0, 16, "application/json") != 0)
    return Refusal(400, "the body must be application/json");
  if (ask.body.size() > config_.max_request_bytes) return Refusal(413, "the request is too large");
  std::string error;
  std::optional<CaptureRequest> request = ReadRequest(ask.body, &error);
  if (!request) return Refusal(400, error);
  if (capturing_.exchange(true)) return Refusal(409, "a capture is already running");
  int deadline = request->timeout + config_.extra_seconds;
  CaptureOutcome outcome;
  try {
    outcome = run_(*request, deadline);
  } catch (const std::exception& failure) {  // the run could not even start
    outcome.error_text = failure.what();
  }
  capturing_ = false;
  Json body = Outcome(*request, outcome, deadline);
  HttpAnswer answer = JsonAnswer(200, body);
  answer.mode = request->mode;
  answer.ending = body["ending"].get<std::string>();
  return answer;
}

}  // namespace qvl
