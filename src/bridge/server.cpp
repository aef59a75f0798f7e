// The HTTP side of the bridge: Boost.Beast, one thread a connection, so that a capture that
// waits for a finger never keeps /v1/status or a second request (409) waiting.

#include "bridge/server.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/version.hpp>
#include <chrono>
#include <ctime>
#include <filesystem>
#include <thread>

// Built and tested with Debian 12's libboost1.74-dev; another version is a deliberate change.
static_assert(BOOST_VERSION / 100 == 1074, "qvlbridge is pinned to Boost 1.74");

namespace qvl {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

constexpr std::uintmax_t kLogBytes = 1024 * 1024;

std::string Header(const http::request<http::string_body>& request, http::field field) {
  auto found = request.find(field);
  return found == request.end() ? std::string() : std::string(found->value());
}

HttpAsk AskOf(const http::request<http::string_body>& request) {
  HttpAsk ask;
  ask.method = std::string(request.method_string());
  ask.target = std::string(request.target());
  ask.host = Header(request, http::field::host);
  ask.origin = Header(request, http::field::origin);
  ask.content_type = Header(request, http::field::content_type);
  auto private_network = request.find("Access-Control-Request-Private-Network");
  ask.private_network = private_network != request.end() && private_network->value() == "true";
  ask.body = request.body();
  return ask;
}

void Answer(tcp::socket& socket, const HttpAnswer& answer, bool keep_alive,
            beast::error_code& error) {
  http::response<http::string_body> response{static_cast<http::status>(answer.status), 11};
  response.set(http::field::server, "qvlbridge");
  for (const auto& [name, value] : answer.headers) response.set(name, value);
  response.body() = answer.body;
  response.keep_alive(keep_alive);
  response.prepare_payload();
  http::write(socket, response, error);
}

void Session(tcp::socket socket, Bridge& bridge, RequestLog& log) {
  beast::flat_buffer buffer;
  for (;;) {
    http::request_parser<http::string_body> parser;
    parser.body_limit(bridge.config().max_request_bytes);
    beast::error_code error;
    http::read(socket, buffer, parser, error);
    if (error == http::error::body_limit) {
      HttpAnswer too_large;
      too_large.status = 413;
      too_large.body = R"({"error":"the request is too large"})";
      too_large.headers = {{"Content-Type", "application/json"}};
      Answer(socket, too_large, false, error);
      log.Write("- - too large 413");
      break;
    }
    if (error) break;
    auto started = std::chrono::steady_clock::now();
    const auto& request = parser.get();
    HttpAnswer answer = bridge.Handle(AskOf(request));
    auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(
        std::chrono::steady_clock::now() - started);
    log.Write("origin=" +
              (Header(request, http::field::origin).empty()
                   ? "-"
                   : Header(request, http::field::origin)) +
              " " + std::string(request.method_string()) + " " + std::string(request.target()) +
              " mode=" + (answer.mode.empty() ? "-" : answer.mode) +
              " ending=" + (answer.ending.empty() ? "-" : answer.ending) +
              " status=" + std::to_string(answer.status) + " ms=" + std::to_string(ms.count()));
    Answer(socket, answer, request.keep_alive(), error);
    if (error || !request.keep_alive()) break;
  }
  beast::error_code ignored;
  socket.shutdown(tcp::socket::shutdown_send, ignored);
}

}  // namespace

void RequestLog::Write(const std::string& line) {
  std::lock_guard<std::mutex> lock(mutex_);
  namespace fs = std::filesystem;
  std::error_code error;
  fs::path path = fs::u8path(path_);
  if (fs::file_size(path, error) > kLogBytes && !error) {
    fs::rename(path, fs::u8path(path_ + ".old"), error);
  }
  char stamp[32];
  std::time_t now = std::time(nullptr);
  std::strftime(stamp, sizeof stamp, "%Y-%m-%dT%H:%M:%S", std::localtime(&now));
  std::ofstream out(path, std::ios::app | std::ios::binary);
  out << stamp << " " << line << "\n";
}

void Serve(Bridge& bridge, RequestLog& log) {
  asio::io_context context;
  tcp::acceptor acceptor(context);
  tcp::endpoint endpoint(asio::ip::make_address("127.0.0.1"),
                         static_cast<unsigned short>(bridge.config().port));
  for (bool said = false;; said = true) {
    beast::error_code error;
    acceptor.open(endpoint.protocol(), error);
#ifndef _WIN32
    // A restarted bridge takes its port back at once; on Windows the same option would let
    // another program take the port over.
    if (!error) acceptor.set_option(asio::socket_base::reuse_address(true), error);
#endif
    if (!error) acceptor.bind(endpoint, error);
    if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
    if (!error) break;
    // Under fast user switching another session's bridge may hold the port: the session at the
    // console gets it once the other lets go.
    if (!said)
      log.Write("cannot listen on 127.0.0.1:" + std::to_string(bridge.config().port) + ": " +
                error.message() + "; trying again every 3 s");
    acceptor.close(error);
    std::this_thread::sleep_for(std::chrono::seconds(3));
  }
  log.Write("listening on 127.0.0.1:" + std::to_string(bridge.config().port));
  for (;;) {
    tcp::socket socket(context);
    beast::error_code error;
    acceptor.accept(socket, error);
    if (error) continue;
    std::thread(Session, std::move(socket), std::ref(bridge), std::ref(log)).detach();
  }
}

}  // namespace qvl
