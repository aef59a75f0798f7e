#include "bridge/bridge.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "bridge/base64.h"
#include "bridge/host.h"

namespace qvl {
namespace {

using Json = nlohmann::json;

constexpr char kPortal[] = "https://hr.example.ru";

std::string Repeated(const std::string& text, int times) {
  std::string all;
  while (times-- > 0) all += text;
  return all;
}

class BridgeTest : public testing::Test {
 protected:
  BridgeTest()
      : bridge(
            {{kPortal}, 52180, 4096, 150},
            [this](const CaptureRequest& request, int deadline, const CancelFlag&) {
              asked.push_back(request);
              deadlines.push_back(deadline);
              if (!during_run.empty())
                status_during_run = Ask("POST", "/v1/capture", during_run).status;
              if (fail_to_start) throw std::runtime_error("no child");
              return outcome;
            },
            [] { return true; }) {}

  HttpAnswer Ask(const char* method, const char* target, const std::string& body = "",
                 std::string origin = kPortal, std::string host = "127.0.0.1:52180",
                 std::string type = "application/json", bool private_network = false) {
    HttpAsk ask{method, target, host, origin, type, body, private_network};
    return bridge.Handle(ask);
  }
  static bool Has(const HttpAnswer& answer, const char* name) {
    for (const auto& header : answer.headers) {
      if (header.first == name) return true;
    }
    return false;
  }
  static bool Cors(const HttpAnswer& answer) { return Has(answer, "Access-Control-Allow-Origin"); }

  Bridge bridge;
  CaptureOutcome outcome;
  std::vector<CaptureRequest> asked;
  std::vector<int> deadlines;
  std::string during_run;  // a request another page makes while the capture runs
  bool fail_to_start = false;
  int status_during_run = 0;
};

// Who may ask what: only the allowed origin reads an answer, only through this computer's own
// name, and a request the service cannot take is told why before any run starts.
TEST_F(BridgeTest, RequestsItRefuses) {
  std::string template_256 = EncodeBase64(std::vector<std::uint8_t>(256, 1));
  const struct {
    const char* method;
    const char* target;
    std::string body, origin, host;
    int status;
    bool cors;
  } cases[] = {
      {"GET", "/v1/status", "", kPortal, "127.0.0.1:52180", 200, true},
      {"GET", "/v1/status", "", "", "localhost:52180", 200, false},  // no page: nothing to allow
      {"GET", "/v1/status", "", kPortal, "[::1]:52180", 200, true},  // localhost reached over IPv6
      {"GET", "/v1/status", "", kPortal, "evil.example:52180", 403, false},  // DNS rebinding
      {"GET", "/v1/status", "", kPortal, "127.0.0.1:80", 403, false},
      {"OPTIONS", "/v1/capture", "", kPortal, "127.0.0.1:52180", 204, true},
      {"OPTIONS", "/v1/capture", "", "http://127.0.0.1:8000", "127.0.0.1:52180", 403, false},
      {"POST", "/v1/status", "", kPortal, "127.0.0.1:52180", 405, true},
      {"GET", "/v1/capture", "", kPortal, "127.0.0.1:52180", 405, true},
      {"GET", "/v2/capture", "", kPortal, "127.0.0.1:52180", 404, true},
      {"POST", "/v1/capture", R"({"mode":"enroll"})", "", "127.0.0.1:52180", 403, false},
      {"POST", "/v1/capture", R"({"mode":"enroll"})", "https://hr.example.ru.evil.example",
       "127.0.0.1:52180", 403, false},  // a name that begins like the portal's is another site
      {"GET", "/v1/status", "", "https://evil.example", "127.0.0.1:52180", 403, true},
      {"POST", "/v1/cancel", "", kPortal, "127.0.0.1:52180", 200, true},
      {"POST", "/v1/cancel", "", "", "127.0.0.1:52180", 403, false},
  };
  for (const auto& c : cases) {
    HttpAnswer answer = Ask(c.method, c.target, c.body, c.origin, c.host);
    EXPECT_EQ(answer.status, c.status) << c.method << " " << c.target << " " << c.body;
    EXPECT_EQ(Cors(answer), c.cors) << c.method << " " << c.target << " " << c.body;
  }
  // What the portal's page may post, each refused with why before any run starts, or run.
  const std::pair<std::string, int> bodies[] = {
      {R"({"mode":"verify","template":")" + EncodeBase64(std::vector<std::uint8_t>(258, 1)) + "\"}", 400},
      {R"({"mode":"enroll","timeout":600})", 200},
      {"{mode", 400},
      {R"(["enroll"])", 400},
      {R"({"mode":"photo"})", 400},
      {R"({"mode":"verify"})", 400},
      {R"({"mode":"verify","template":"AAAA"})", 400},
      {R"({"mode":"verimatch","database":"AAAA"})", 400},
      {R"({"mode":"identify","database":"A*=="})", 400},
      {R"({"mode":"enroll","level":"3"})", 400},
      {R"({"mode":"enroll","timeout":2.5})", 400},
      {R"({"mode":"enroll","token":7})", 400},
      {R"({"mode":"enroll","token":")" + std::string(65, 'x') + "\"}", 400},
      {R"({"mode":"enroll","token":")" + Repeated("Щ", 64) + "\"}", 200},  // 64 letters, 128 bytes
      {R"({"mode":"enroll","token":")" + Repeated("Щ", 65) + "\"}", 400},
      {R"({"mode":"enroll","level":0})", 400},  // below lowest_level: verimatch matches every record
      {R"({"mode":"enroll","x":[[[[[[[[[]]]]]]]]]})", 400},
      {R"({"mode":"enroll","x":"[[[[[[[[[[[["})", 200},  // brackets inside a string nest nothing
      {R"({"mode":"enroll","x":"\\","y":[[[[[[[[[]]]]]]]]]})", 400},  // an escaped backslash, then the string ends
      {R"({"mode":"enroll","token":"x"})" + std::string(5000, ' '), 413},
      {R"({"mode":"verify","template":")" + template_256 + R"(","token":"A-1"})", 200},
  };
  for (const auto& [body, status] : bodies) {
    HttpAnswer answer = Ask("POST", "/v1/capture", body, kPortal);
    EXPECT_EQ(answer.status, status) << body;
    EXPECT_TRUE(Cors(answer)) << body;
  }
  ASSERT_EQ(asked.size(), 4u);  // 600 s, the string of brackets, 64 letters and the last one
  EXPECT_EQ(asked[3].stored_template, std::vector<std::uint8_t>(256, 1));
  EXPECT_EQ(asked[3].token, "A-1");
  EXPECT_EQ(deadlines[3], 120 + 150);
  // A text/plain post needs no preflight: any site's form could send one.
  EXPECT_EQ(Ask("POST", "/v1/capture", R"({"mode":"enroll"})", kPortal, "127.0.0.1:52180",
                "text/plain")
                .status,
            400);
  // Chrome's private-network preflight is answered only when it is asked.
  for (bool asked_for : {false, true}) {
    HttpAnswer answer =
        Ask("OPTIONS", "/v1/capture", "", kPortal, "127.0.0.1:52180", "", asked_for);
    EXPECT_EQ(Has(answer, "Access-Control-Allow-Private-Network"), asked_for);
  }
  // A page of another origin learns why from the status, and nothing else.
  EXPECT_EQ(Json::parse(Ask("GET", "/v1/status", "", "https://evil.example").body)["error"],
            "origin_not_allowed");
}

// What qvlbridge.json may say: origins as browsers send them, or the service does not start.
TEST(ParseBridgeConfig, RefusesWhatWouldSilentlyAllowNothing) {
  const std::pair<const char*, bool> cases[] = {
      {R"({"allowed_origins": ["https://hr.example.ru", "http://localhost:8088"]})", true},
      {R"({"allowed_origins": ["http://[::1]:8088", "http://127.0.0.1:8000"]})", true},
      {R"({"allowed_origins": ["http://localhost:8088/"]})", false},
      {R"({"allowed_origins": ["https://hr.example.ru/portal"]})", false},
      {R"({"allowed_origins": ["https://HR.example.ru"]})", false},
      {R"({"allowed_origins": ["https://hr.example.ru:443"]})", false},
      {R"({"allowed_origins": ["hr.example.ru"]})", false},
      {R"({"allowed_origins": ["https://hr.example.ru:0"]})", false},
      {R"({"allowed_origins": ["*"]})", false},
      {R"({"port": 0})", false},
      {R"({"lowest_level": 1, "port": 65535})", true},
      {R"({"lowest_level": "1"})", false},
      {R"({"allowed_extensions": ["abcdefghijklmnopabcdefghijklmnop", "portal@hr.example.ru",
                                  "{6a4c2f0e-1b2d-4e5f-8a9b-0c1d2e3f4a5b}"]})", true},
      {R"({"allowed_extensions": ["portal"]})", false},
      {R"({"allowed_extensions": ["a@b@c"]})", false},
  };
  for (const auto& [json, valid] : cases) {
    std::string error;
    EXPECT_EQ(ParseBridgeConfig(json, &error).has_value(), valid) << json << ": " << error;
    EXPECT_EQ(error.empty(), valid) << json;
  }
  std::string error;
  EXPECT_EQ(ParseBridgeConfig("{}", &error)->port, kDefaultBridgePort);
}

// The run's exit status and files as the page reads them.
TEST_F(BridgeTest, AnswersWithTheRunsEnding) {
  std::string database = EncodeBase64(std::vector<std::uint8_t>(512, 7));
  std::string request =
      R"({"mode":"verimatch","database":")" + database + R"(","token":"t","timeout":5})";
  outcome.status = 0;
  outcome.result = "0,1\r\nt\r\n";
  outcome.features = {'7', '\r', '\n', '2', '5', '5', '\r', '\n'};
  outcome.picture = {'B', 'M'};
  Json answer = Json::parse(Ask("POST", "/v1/capture", request).body);
  EXPECT_EQ(answer["ending"], "answered");
  EXPECT_EQ(answer["answer"], "0,1");
  EXPECT_EQ(answer["matches"], Json::array({0, 1}));
  EXPECT_EQ(answer["template"], EncodeBase64({7, 255}));
  EXPECT_EQ(answer["picture"], "Qk0=");
  // A cancelled run ends as a closed window, unless it answered first.
  const std::tuple<bool, bool, int, const char*, Json> endings[] = {
      {false, false, 2, "timed_out", 2},     {false, false, 6, "library_crashed", 6},
      {false, false, 8, "library_hung", 8},  {false, false, 7, "picture_not_replaced", 7},
      {false, false, 42, "error", 42},       {false, true, 3, "window_closed", 3},
      {true, true, -1, "window_closed", nullptr}, {false, true, 0, "answered", 0},
      {true, false, -1, "library_hung", nullptr}};
  outcome.picture.clear();
  for (const auto& [killed, cancelled, status, ending, shown] : endings) {
    outcome.killed = killed;
    outcome.cancelled = cancelled;
    outcome.status = status;
    answer = Json::parse(Ask("POST", "/v1/capture", request).body);
    EXPECT_EQ(answer["ending"], ending) << status;
    EXPECT_EQ(answer["status"], shown) << status;
    EXPECT_EQ(answer["answer"].is_null(), status != 7 && status != 0) << status;
    EXPECT_EQ(answer["template"].is_null(), status != 7 && status != 0) << status;
    EXPECT_TRUE(answer["picture"].is_null()) << status;  // none, rather than an empty one
  }
  EXPECT_NE(answer["message"].get<std::string>().find("155"), std::string::npos);  // 5 + 150 s
  // Only verimatch lists matches: verification's "0" is no record number.
  outcome = {false, false, 0, "0\r\nt\r\n"};
  answer = Json::parse(Ask("POST", "/v1/capture",
                           R"({"mode":"verify","template":")" +
                               EncodeBase64(std::vector<std::uint8_t>(256, 1)) + "\"}")
                           .body);
  EXPECT_EQ(answer["matches"], Json::array());
  // A run that could not even start frees the bridge for the next.
  fail_to_start = true;
  EXPECT_EQ(Json::parse(Ask("POST", "/v1/capture", request).body)["ending"], "error");
  fail_to_start = false;
  EXPECT_EQ(Ask("POST", "/v1/capture", request).status, 200);
  // A second page (or tab) while the capture runs is refused at once; /v1/status says why.
  during_run = R"({"mode":"enroll"})";
  Ask("POST", "/v1/capture", request);
  EXPECT_EQ(status_during_run, 409);
  EXPECT_TRUE(Json::parse(Ask("GET", "/v1/status").body)["capture_running"] == false);
}

// How each browser starts its host, and which extensions may.
TEST(BrowserStartOf, ChromesAndFirefoxsFormsAndTheAllowedIds) {
  const std::vector<std::string> allowed = {"portal@hr.example.ru", "abcdefghijklmnopabcdefghijklmnop"};
  const struct {
    std::vector<std::string> arguments;
    std::optional<bool> firefox;  // nullopt: no browser started it
    bool allowed;
  } cases[] = {
      {{"chrome-extension://adamogejkbaedoekmofdhnmhjbjkmjmp/", "--parent-window=0"}, false, true},
      {{"chrome-extension://abcdefghijklmnopabcdefghijklmnop/"}, false, true},
      {{"chrome-extension://pppppppppppppppppppppppppppppppp/"}, false, false},
      {{"/home/a/.mozilla/native-messaging-hosts/ru.qvlcapture.bridge.json", "qvlcapture@qvlcapture.ru"},
       true, true},
      {{"C:\\Program Files\\qvlcapture\\ru.qvlcapture.bridge.firefox.json", "portal@hr.example.ru"},
       true, true},
      {{"/usr/lib/mozilla/native-messaging-hosts/ru.qvlcapture.bridge.json", "evil@example.org"},
       true, false},
      {{"-PORT:8000"}, std::nullopt, false},
      {{"settings.json", "-INSTALL"}, std::nullopt, false},
      {{}, std::nullopt, false},
  };
  for (const auto& c : cases) {
    std::optional<BrowserStart> start = BrowserStartOf(c.arguments);
    std::string first = c.arguments.empty() ? "" : c.arguments[0];
    ASSERT_EQ(start.has_value(), c.firefox.has_value()) << first;
    if (!start) continue;
    EXPECT_EQ(start->firefox, *c.firefox) << first;
    EXPECT_EQ(ExtensionAllowed(*start, allowed), c.allowed) << first;
  }
  // Each browser's manifest lists the IDs of its own kind.
  std::string chromium = HostManifest("/q", allowed), firefox = FirefoxHostManifest("/q", allowed);
  EXPECT_NE(chromium.find("chrome-extension://abcdefghijklmnopabcdefghijklmnop/"), std::string::npos);
  EXPECT_EQ(chromium.find("portal@"), std::string::npos);
  EXPECT_NE(firefox.find("\"portal@hr.example.ru\""), std::string::npos);
  EXPECT_EQ(firefox.find("abcdefghijklmnop"), std::string::npos);
}

// Any program can start the host: a frame of brackets is refused before it is parsed.
TEST_F(BridgeTest, HostRefusesADeepFrameUnparsed) {
  std::FILE* in = std::tmpfile();
  std::FILE* out = std::tmpfile();
  ASSERT_TRUE(WriteFrame(in, std::string(4000, '[') + std::string(4000, ']')));
  std::rewind(in);
  RequestLog log(testing::TempDir() + "/host.log");
  EXPECT_EQ(ServeHost(bridge, log, in, out), 1);
  std::rewind(out);
  std::string error;
  std::optional<std::string> answer = ReadFrame(out, 4096, &error);
  ASSERT_TRUE(answer) << error;
  EXPECT_EQ(Json::parse(*answer)["body"]["error"], "the message nests too deep");
  std::fclose(in);
  std::fclose(out);
}

}  // namespace
}  // namespace qvl
