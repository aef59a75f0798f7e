// qvlbridge.json: the settings the service starts with, checked so that a mistyped one stops it
// rather than silently allowing nothing.

#include <nlohmann/json.hpp>

#include "bridge/bridge.h"

namespace qvl {
namespace {

using Json = nlohmann::json;

// An origin as browsers send it: scheme://host[:port] in lower case, no default port, no path
// and no slash after. Any other spelling would silently allow nothing.
bool IsOrigin(const std::string& origin) {
  std::size_t after = origin.find("://");
  std::string scheme = origin.substr(0, after);
  if (after == std::string::npos || (scheme != "http" && scheme != "https")) return false;
  std::string rest = origin.substr(after + 3);
  std::size_t colon = rest.find(':', rest.rfind(']') == std::string::npos ? 0 : rest.rfind(']'));
  std::string host = rest.substr(0, colon);
  bool bracketed = host.size() > 2 && host.front() == '[' && host.back() == ']';
  bool plain = !host.empty();
  for (char c : bracketed ? host.substr(1, host.size() - 2) : host) {
    plain = plain && ((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '-' || c == '.' ||
                      (bracketed && c == ':'));
  }
  if (!plain || colon == std::string::npos) return plain;
  std::string port = rest.substr(colon + 1);
  bool digits = !port.empty() && port.size() <= 5 && port[0] != '0';
  for (char c : port) digits = digits && c >= '0' && c <= '9';
  return digits && std::stoi(port) <= 65535 && !(scheme == "http" && port == "80") &&
         !(scheme == "https" && port == "443");
}

}  // namespace

bool IsChromiumId(const std::string& id) {
  return id.size() == 32 && id.find_first_not_of("abcdefghijklmnop") == std::string::npos;
}

bool IsFirefoxId(const std::string& id) {
  bool guid = id.size() == 38 && id.front() == '{' && id.back() == '}' &&
              id.find_first_not_of("0123456789abcdefABCDEF-", 1) == id.size() - 1;
  std::size_t at = id.find('@');
  bool mail =
      at != std::string::npos && at + 1 < id.size() &&
      id.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789._+-@") ==
          std::string::npos &&
      id.find('@', at + 1) == std::string::npos;
  return guid || mail;
}

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
    if (json.contains("lowest_level")) config.lowest_level = json["lowest_level"].get<int>();
    if (json.contains("allowed_extensions"))
      config.allowed_extensions = json["allowed_extensions"].get<std::vector<std::string>>();
  } catch (const Json::exception& wrong) {
    *error = std::string("qvlbridge.json: ") + wrong.what();
    return std::nullopt;
  }
  if (config.port < 1 || config.port > 65535) {
    *error = "qvlbridge.json: port must lie from 1 to 65535";
    return std::nullopt;
  }
  if (config.lowest_level < -32768 || config.lowest_level > 32767) {
    *error = "qvlbridge.json: lowest_level must lie from -32768 to 32767";
    return std::nullopt;
  }
  for (const std::string& id : config.allowed_extensions) {
    if (!IsChromiumId(id) && !IsFirefoxId(id)) {
      *error = "qvlbridge.json: \"" + id + "\" in allowed_extensions is no extension ID";
      return std::nullopt;
    }
  }
  for (const std::string& origin : config.allowed_origins) {
    if (!IsOrigin(origin)) {
      *error = "qvlbridge.json: \"" + origin +
               "\" in allowed_origins is no origin: write scheme://host[:port] as the browser "
               "sends it, in lower case, with no slash or path after it";
      return std::nullopt;
    }
  }
  return config;
}

}  // namespace qvl
