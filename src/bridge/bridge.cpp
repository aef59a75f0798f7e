#include "bridge/bridge.h"

#include <algorithm>
#include <nlohmann/json.hpp>

#include "base/ending.h"
#include "base/messages.h"
#include "bridge/base64.h"

// Built and tested with Debian 12's nlohmann-json3-dev; another version is a deliberate change.
static_assert(NLOHMANN_JSON_VERSION_MAJOR == 3 && NLOHMANN_JSON_VERSION_MINOR == 11,
              "qvlbridge is pinned to nlohmann/json 3.11");

namespace qvl {
namespace {

using Json = nlohmann::json;

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

}  // namespace

int NestingDepth(std::string_view text) {
  int depth = 0, deepest = 0;
  bool in_string = false, escaped = false;
  for (char c : text) {
    if (in_string) {
      in_string = escaped || c != '"';
      escaped = !escaped && c == '\\';
    } else if (c == '"') {
      in_string = true;
    } else if (c == '[' || c == '{') {
      deepest = std::max(deepest, ++depth);
    } else if (c == ']' || c == '}') {
      --depth;
    }
  }
  return deepest;
}

namespace {

// Characters, not bytes: the parser has already refused a string that is not UTF-8.
std::size_t CodePoints(const std::string& text) {
  std::size_t count = 0;
  for (char c : text) count += (static_cast<unsigned char>(c) & 0xC0) != 0x80;
  return count;
}

// The request's fields, checked: everything that reaches qvlcapture's command line is known.
std::optional<CaptureRequest> ReadRequest(const std::string& text, int lowest_level,
                                          std::string* error) {
  // The API nests two levels; anything much deeper is no request of ours.
  if (NestingDepth(text) > kDeepestJson) {
    *error = "the body nests deeper than " + std::to_string(kDeepestJson) + " levels";
    return std::nullopt;
  }
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
  if (!TakeWhole(body, "level", lowest_level, 32767, &request.level, error) ||
      !TakeWhole(body, "timeout", 0, 600, &request.timeout, error))
    return std::nullopt;
  if (body.contains("token")) {
    // Any text: it is answered back as sent and never handed to the program, whose command line
    // could not carry every alphabet.
    const Json& token = body["token"];
    if (!token.is_string() || CodePoints(token.get<std::string>()) > 64) {
      *error = "token must be a text of at most 64 characters";
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
  const char* known = outcome.killed ? nullptr : NameOfEnding(outcome.status);
  bool answered = !outcome.killed && Answered(outcome.status);
  if (outcome.cancelled && !answered) {
    // Closed by the bridge the way a person closes the window; a run that had to be ended
    // instead has no status of its own to show.
    int closed = static_cast<int>(Ending::kWindowClosed);
    answer["ending"] = NameOfEnding(closed);
    answer["status"] = outcome.status == closed ? Json(closed) : Json(nullptr);
  } else {
    answer["ending"] = outcome.killed ? NameOfEnding(Ending::kLibraryHung)
                       : known        ? known
                                      : NameOfEnding(Ending::kError);
    answer["status"] = outcome.killed ? Json(nullptr) : Json(outcome.status);
  }
  answer["token"] = request.token;
  answer["message"] = outcome.killed && !outcome.cancelled
                          ? Say(Message::kBridgeStoppedRun, {{"seconds", std::to_string(deadline)}})
                          : outcome.error_text;
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

HttpAnswer Refusal(int status, const std::string& what) {
  return JsonAnswer(status, {{"error", what}});
}

std::string LogLine(const HttpAsk& ask, const HttpAnswer& answer) {
  auto or_dash = [](const std::string& text) { return text.empty() ? std::string("-") : text; };
  return "origin=" + or_dash(ask.origin) + " " + ask.method + " " + ask.target +
         " mode=" + or_dash(answer.mode) + " ending=" + or_dash(answer.ending) +
         " status=" + std::to_string(answer.status);
}

Bridge::Bridge(BridgeConfig config, RunCapture run, std::function<bool()> library_found)
    : config_(std::move(config)), run_(std::move(run)), library_found_(std::move(library_found)) {}

bool Bridge::Allowed(const std::string& origin) const {
  return std::find(config_.allowed_origins.begin(), config_.allowed_origins.end(), origin) !=
         config_.allowed_origins.end();
}

std::optional<HttpAnswer> Bridge::RefuseEarly(const HttpAsk& ask) const {
  // Another name for this computer's address (DNS rebinding) is another site's page.
  std::string port = ":" + std::to_string(config_.port);
  std::string host = Lower(ask.host);
  if (host != "127.0.0.1" + port && host != "localhost" + port && host != "[::1]" + port)
    return Refusal(
        403, "the Host header must name 127.0.0.1, [::1] or localhost with the bridge's port");
  if (ask.origin.empty() || Allowed(ask.origin)) return std::nullopt;
  std::string path = ask.target.substr(0, ask.target.find('?'));
  HttpAnswer refused = Refusal(403, "origin_not_allowed");
  // A page of another origin may learn that much, and only from the status: its own
  // administrator then knows what to add to allowed_origins.
  if (ask.method == "GET" && path == "/v1/status") {
    refused.headers.push_back({"Access-Control-Allow-Origin", ask.origin});
    refused.headers.push_back({"Vary", "Origin"});
  }
  return refused;
}

HttpAnswer Bridge::Handle(const HttpAsk& ask) {
  if (std::optional<HttpAnswer> refused = RefuseEarly(ask)) return *refused;
  bool allowed = !ask.origin.empty();
  HttpAnswer answer;
  std::string path = ask.target.substr(0, ask.target.find('?'));
  bool status_path = path == "/v1/status", capture_path = path == "/v1/capture",
       cancel_path = path == "/v1/cancel";
  if (ask.method == "OPTIONS" && (status_path || capture_path || cancel_path)) {
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
  } else if (capture_path || cancel_path) {
    if (ask.method != "POST") {
      answer = Refusal(405, "use POST");
      answer.headers.push_back({"Allow", "POST, OPTIONS"});
    } else if (!allowed) {  // a form of another site can post without a preflight
      return Refusal(403, "a page's request needs an allowed Origin");
    } else if (cancel_path) {
      bool running = capturing_.load();
      if (running) Cancel();
      answer = JsonAnswer(200, {{"cancelled", running}});
    } else {
      answer = Capture(ask);
    }
  } else {
    answer = Refusal(404, "no such resource: use /v1/status, /v1/capture or /v1/cancel");
  }
  if (allowed) {
    answer.headers.push_back({"Access-Control-Allow-Origin", ask.origin});
    answer.headers.push_back({"Vary", "Origin"});
  }
  return answer;
}

void Bridge::Cancel(const void* connection) {
  if (capturing_ && (!connection || connection == capture_connection_)) cancel_ = true;
}

HttpAnswer Bridge::Capture(const HttpAsk& ask) {
  // A form of another site can post text without a preflight; JSON cannot.
  if (ask.content_type.compare(0, 16, "application/json") != 0)
    return Refusal(400, "the body must be application/json");
  if (ask.body.size() > config_.max_request_bytes) return Refusal(413, "the request is too large");
  std::string error;
  std::optional<CaptureRequest> request = ReadRequest(ask.body, config_.lowest_level, &error);
  if (!request) return Refusal(400, error);
  if (capturing_.exchange(true)) return Refusal(409, "a capture is already running");
  cancel_ = false;
  capture_connection_ = ask.connection;
  int deadline = request->timeout + config_.extra_seconds;
  CaptureOutcome outcome;
  try {
    outcome = run_(*request, deadline, cancel_);
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
