#include "bridge/bridge.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "bridge/base64.h"

namespace qvl {
namespace {

using Json = nlohmann::json;

constexpr char kPortal[] = "https://hr.example.ru";

class BridgeTest : public testing::Test {
 protected:
  BridgeTest()
      : bridge(
            {{kPortal}, 52180, 4096, 150},
            [this](const CaptureRequest& request, int deadline) {
              asked.push_back(request);
              deadlines.push_back(deadline);
              if (!during_run.empty())
                status_during_run = Ask("POST", "/v1/capture", during_run).status;
              return outcome;
            },
            [] { return true; }) {}

  HttpAnswer Ask(const char* method, const char* target, const std::string& body = "",
                 std::string origin = kPortal, std::string host = "127.0.0.1:52180") {
    return bridge.Handle({method, target, host, origin, "application/json", body, false});
  }
  static bool Cors(const HttpAnswer& answer) {
    for (const auto& header : answer.headers) {
      if (header.first == "Access-Control-Allow-Origin") return true;
    }
    return false;
  }

  Bridge bridge;
  CaptureOutcome outcome;
  std::vector<CaptureRequest> asked;
  std::vector<int> deadlines;
  std::string during_run;  // a request another page makes while the capture runs
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
      {"GET", "/v1/status", "", "https://evil.example", "127.0.0.1:52180", 403, false},
      {"GET", "/v1/status", "", kPortal, "evil.example:52180", 403, false},  // DNS rebinding
      {"GET", "/v1/status", "", kPortal, "127.0.0.1:80", 403, false},
      {"OPTIONS", "/v1/capture", "", kPortal, "127.0.0.1:52180", 204, true},
      {"OPTIONS", "/v1/capture", "", "http://127.0.0.1:8000", "127.0.0.1:52180", 403, false},
      {"POST", "/v1/status", "", kPortal, "127.0.0.1:52180", 405, true},
      {"GET", "/v1/capture", "", kPortal, "127.0.0.1:52180", 405, true},
      {"GET", "/v2/capture", "", kPortal, "127.0.0.1:52180", 404, true},
      {"POST", "/v1/capture", R"({"mode":"enroll"})", "", "127.0.0.1:52180", 403, false},
      {"POST", "/v1/capture", "{mode", kPortal, "127.0.0.1:52180", 400, true},
      {"POST", "/v1/capture", R"(["enroll"])", kPortal, "127.0.0.1:52180", 400, true},
      {"POST", "/v1/capture", R"({"mode":"photo"})", kPortal, "127.0.0.1:52180", 400, true},
      {"POST", "/v1/capture", R"({"mode":"verify"})", kPortal, "127.0.0.1:52180", 400, true},
      {"POST", "/v1/capture", R"({"mode":"verify","template":"AAAA"})", kPortal, "127.0.0.1:52180",
       400, true},
      {"POST", "/v1/capture", R"({"mode":"verimatch","database":"AAAA"})", kPortal,
       "127.0.0.1:52180", 400, true},
      {"POST", "/v1/capture", R"({"mode":"identify","database":"A*=="})", kPortal,
       "127.0.0.1:52180", 400, true},
      {"POST", "/v1/capture", R"({"mode":"enroll","level":"3"})", kPortal, "127.0.0.1:52180", 400,
       true},
      {"POST", "/v1/capture", R"({"mode":"enroll","timeout":2.5})", kPortal, "127.0.0.1:52180", 400,
       true},
      {"POST", "/v1/capture", R"({"mode":"enroll","token":"a b"})", kPortal, "127.0.0.1:52180", 400,
       true},
      {"POST", "/v1/capture", R"({"mode":"enroll","token":"x"})" + std::string(5000, ' '), kPortal,
       "127.0.0.1:52180", 413, true},
      {"POST", "/v1/capture",
       R"({"mode":"verify","template":")" + template_256 + R"(","token":"A-1"})", kPortal,
       "127.0.0.1:52180", 200, true},
  };
  for (const auto& c : cases) {
    HttpAnswer answer = Ask(c.method, c.target, c.body, c.origin, c.host);
    EXPECT_EQ(answer.status, c.status) << c.method << " " << c.target << " " << c.body;
    EXPECT_EQ(Cors(answer), c.cors) << c.method << " " << c.target << " " << c.body;
  }
  ASSERT_EQ(asked.size(), 1u);  // only the last one ran
  EXPECT_EQ(asked[0].stored_template, std::vector<std::uint8_t>(256, 1));
  EXPECT_EQ(asked[0].token, "A-1");
  EXPECT_EQ(deadlines[0], 120 + 150);
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
  const std::tuple<bool, int, const char*> endings[] = {
      {false, 2, "timed_out"},    {false, 6, "library_crashed"},
      {false, 8, "library_hung"}, {false, 7, "picture_not_replaced"},
      {false, 42, "error"},       {true, -1, "library_hung"}};
  for (const auto& [killed, status, ending] : endings) {
    outcome.killed = killed;
    outcome.status = status;
    answer = Json::parse(Ask("POST", "/v1/capture", request).body);
    EXPECT_EQ(answer["ending"], ending) << status;
    EXPECT_EQ(answer["answer"].is_null(), status != 7) << status;
  }
  EXPECT_NE(answer["message"].get<std::string>().find("155"), std::string::npos);  // 5 + 150 s
  // A second page (or tab) while the capture runs is refused at once; /v1/status says why.
  during_run = R"({"mode":"enroll"})";
  Ask("POST", "/v1/capture", request);
  EXPECT_EQ(status_during_run, 409);
  EXPECT_TRUE(Json::parse(Ask("GET", "/v1/status").body)["capture_running"] == false);
}

}  // namespace
}  // namespace qvl
