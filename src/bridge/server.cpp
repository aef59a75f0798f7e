// The HTTP side of the bridge: Boost.Beast on one thread of asynchronous connections, so that an
// idle or slow connection costs a socket and a timer, never a thread; a capture, which waits for
// a finger, runs on a thread of its own and never keeps /v1/status or a second request waiting.

#include "bridge/server.h"

#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/ip/v6_only.hpp>
#include <boost/asio/steady_timer.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/http.hpp>
#include <boost/version.hpp>
#include <chrono>
#include <filesystem>
#include <list>
#include <memory>
#include <set>
#include <thread>

#include "bridge/child.h"
#include "bridge/peer.h"

// Built and tested with Debian 12's libboost1.74-dev; another version is a deliberate change.
static_assert(BOOST_VERSION / 100 == 1074, "qvlbridge is pinned to Boost 1.74");

namespace qvl {
namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace http = beast::http;
using tcp = asio::ip::tcp;

// Connections at once: a page needs two or three; the rest would be somebody's flood.
constexpr std::size_t kMostConnections = 32;
// The request line and headers must be in within this, in all; an idle keep-alive connection is
// closed after as long.
constexpr auto kHeaderTime = std::chrono::seconds(10);
constexpr auto kBodyTime = std::chrono::seconds(60);
constexpr auto kLingerTime = std::chrono::seconds(2);

class Server;

class Session : public std::enable_shared_from_this<Session> {
 public:
  Session(tcp::socket socket, Server& server) : stream_(std::move(socket)), server_(server) {}
  void ReadRequest();
  // Waiting for a request's headers, or answered and closing: what may be closed to make room
  // for a new connection.
  bool Idle() const { return idle_; }
  void Close() {
    beast::error_code ignored;
    stream_.socket().shutdown(tcp::socket::shutdown_both, ignored);
    stream_.close();
  }

 private:
  void OnHeader(beast::error_code error);
  void OnBody(beast::error_code error);
  void RunCapture();
  void WatchForClose();
  void Write(HttpAnswer answer, bool keep_alive);
  void Linger();
  void Drain();

  beast::tcp_stream stream_;
  Server& server_;
  beast::flat_buffer buffer_;
  std::optional<http::request_parser<http::string_body>> parser_;
  HttpAsk ask_;
  bool idle_ = true;
  bool answered_ = false;
  char scratch_[512];
  std::chrono::steady_clock::time_point started_;
};

class Server {
 public:
  Server(Bridge& bridge, RequestLog& log)
      : bridge_(bridge), log_(log), ipv4_(context_), ipv6_(context_), ipv6_retry_(context_) {}
  void Run();
  Bridge& bridge() { return bridge_; }
  RequestLog& log() { return log_; }
  asio::io_context& context() { return context_; }

 private:
  beast::error_code Bind(tcp::acceptor& acceptor, const tcp::endpoint& endpoint);
  void CannotListen(const tcp::endpoint& endpoint, const beast::error_code& error);
  void Serve(tcp::acceptor& acceptor, const tcp::endpoint& endpoint);
  void Listen();
  void HoldIpv6(bool said);
  void Accept(tcp::acceptor& acceptor);
  void Admit(tcp::socket socket);
  void Refused(const std::string& why);

  Bridge& bridge_;
  RequestLog& log_;
  asio::io_context context_;
  tcp::acceptor ipv4_, ipv6_;
  asio::steady_timer ipv6_retry_;
  std::list<std::weak_ptr<Session>> sessions_;  // oldest first
  std::chrono::milliseconds backoff_{0};
  std::set<std::string> refused_said_;
};

// 127.0.0.1 as ::ffff:127.0.0.1, as the connection tables compare it.
Endpoint ToEndpoint(const tcp::endpoint& endpoint) {
  if (endpoint.address().is_v4()) {
    asio::ip::address_v4::bytes_type bytes = endpoint.address().to_v4().to_bytes();
    return Ipv4Endpoint(bytes.data(), endpoint.port());
  }
  Endpoint converted;
  asio::ip::address_v6::bytes_type bytes = endpoint.address().to_v6().to_bytes();
  std::copy(bytes.begin(), bytes.end(), converted.address.begin());
  converted.port = endpoint.port();
  return converted;
}

std::string Header(const http::request<http::string_body>& request, http::field field) {
  auto found = request.find(field);
  return found == request.end() ? std::string() : std::string(found->value());
}

void Session::ReadRequest() {
  idle_ = true;
  parser_.emplace();
  parser_->body_limit(server_.bridge().config().max_request_bytes);
  stream_.expires_after(kHeaderTime);
  http::async_read_header(stream_, buffer_, *parser_,
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                            self->OnHeader(error);
                          });
}

void Session::OnHeader(beast::error_code error) {
  idle_ = false;
  started_ = std::chrono::steady_clock::now();
  // A Content-Length over the limit is refused on the headers, before a byte of the body.
  if (error == http::error::body_limit) return Write(Refusal(413, "the request is too large"), false);
  if (error) return Close();  // gone, too slow, or no HTTP
  const auto& request = parser_->get();
  ask_ = HttpAsk();
  ask_.method = std::string(request.method_string());
  ask_.target = std::string(request.target());
  ask_.host = Header(request, http::field::host);
  ask_.origin = Header(request, http::field::origin);
  ask_.content_type = Header(request, http::field::content_type);
  auto private_network = request.find("Access-Control-Request-Private-Network");
  ask_.private_network = private_network != request.end() && private_network->value() == "true";
  ask_.connection = this;
  // Refused on the headers alone: nothing of a body is read for a program it is not meant for.
  if (std::optional<HttpAnswer> refused = server_.bridge().RefuseEarly(ask_))
    return Write(*refused, false);
  if (parser_->is_done()) return OnBody({});
  if (beast::iequals(Header(request, http::field::expect), "100-continue")) {
    auto go_on = std::make_shared<http::response<http::empty_body>>(http::status::continue_, 11);
    http::async_write(stream_, *go_on, [self = shared_from_this(), go_on](beast::error_code, std::size_t) {});
  }
  stream_.expires_after(kBodyTime);
  http::async_read(stream_, buffer_, *parser_,
                   [self = shared_from_this()](beast::error_code error, std::size_t) {
                     self->OnBody(error);
                   });
}

void Session::OnBody(beast::error_code error) {
  if (error == http::error::body_limit) return Write(Refusal(413, "the request is too large"), false);
  if (error) return Close();
  ask_.body = std::move(parser_->get().body());
  std::string path = ask_.target.substr(0, ask_.target.find('?'));
  if (ask_.method == "POST" && path == "/v1/capture") return RunCapture();
  Write(server_.bridge().Handle(ask_), parser_->get().keep_alive());
}

void Session::RunCapture() {
  auto self = shared_from_this();
  try {
    std::thread([self] {
      HttpAnswer answer;
      try {
        answer = self->server_.bridge().Handle(self->ask_);
      } catch (const std::exception&) {
        answer = Refusal(500, "the capture failed inside qvlbridge");
      }
      asio::post(self->server_.context(), [self, answer] {
        self->answered_ = true;
        beast::error_code ignored;
        self->stream_.socket().cancel(ignored);  // the watch for a closed page
        self->Write(answer, false);
      });
    }).detach();
  } catch (const std::system_error&) {  // no thread to be had: this request is refused
    return Write(Refusal(503, "qvlbridge is too busy"), false);
  }
  WatchForClose();
}

// A page that goes (a closed tab, a reload) closes its connection: its capture ends at once, as
// if its window were closed, and the scanner is free for the next.
void Session::WatchForClose() {
  stream_.expires_never();
  stream_.async_read_some(asio::buffer(scratch_),
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                            if (self->answered_) return;
                            if (error) return self->server_.bridge().Cancel(self.get());
                            self->WatchForClose();
                          });
}

void Session::Write(HttpAnswer answer, bool keep_alive) {
  auto ms = std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() -
                                                                  started_);
  server_.log().Write(LogLine(ask_, answer) + " ms=" + std::to_string(ms.count()));
  auto response =
      std::make_shared<http::response<http::string_body>>(static_cast<http::status>(answer.status), 11);
  response->set(http::field::server, "qvlbridge");
  for (const auto& [name, value] : answer.headers) response->set(name, value);
  response->body() = std::move(answer.body);
  response->keep_alive(keep_alive);
  response->prepare_payload();
  stream_.expires_after(kHeaderTime);
  http::async_write(stream_, *response,
                    [self = shared_from_this(), response, keep_alive](beast::error_code error,
                                                                      std::size_t) {
                      if (!error && keep_alive) return self->ReadRequest();
                      self->Linger();
                    });
}

// Closed only once the client has our answer: a close with its unread body pending would reset
// the connection, and the answer with it. One deadline for all of it, however the client
// trickles.
void Session::Linger() {
  idle_ = true;  // answered: it may make room for a new connection like one that never asked
  beast::error_code ignored;
  stream_.socket().shutdown(tcp::socket::shutdown_send, ignored);
  stream_.expires_after(kLingerTime);
  Drain();
}

void Session::Drain() {
  stream_.async_read_some(asio::buffer(scratch_),
                          [self = shared_from_this()](beast::error_code error, std::size_t) {
                            if (error) return self->Close();
                            self->Drain();
                          });
}

beast::error_code Server::Bind(tcp::acceptor& acceptor, const tcp::endpoint& endpoint) {
  beast::error_code error;
  acceptor.open(endpoint.protocol(), error);
#ifdef _WIN32
  // Nobody binds the port over ours, not even a program of this account.
  using exclusive = asio::detail::socket_option::boolean<SOL_SOCKET, SO_EXCLUSIVEADDRUSE>;
  if (!error) acceptor.set_option(exclusive(true), error);
#else
  // A restarted bridge takes its port back at once from its own last connections.
  if (!error) acceptor.set_option(asio::socket_base::reuse_address(true), error);
#endif
  if (!error && endpoint.address().is_v6()) acceptor.set_option(asio::ip::v6_only(true), error);
  if (!error) acceptor.bind(endpoint, error);
  if (!error) acceptor.listen(asio::socket_base::max_listen_connections, error);
  beast::error_code ignored;
  if (error) acceptor.close(ignored);
  return error;
}

// The address as the log says it, and the program that holds it when the service cannot.
std::string Where(const tcp::endpoint& endpoint) {
  std::string address = endpoint.address().to_string();
  return (endpoint.address().is_v6() ? "[" + address + "]" : address) + ":" +
         std::to_string(endpoint.port());
}

void Server::CannotListen(const tcp::endpoint& endpoint, const beast::error_code& error) {
  log_.Write("cannot listen on " + Where(endpoint) + ": " + error.message() + "; held by " +
             PortHolder(ToEndpoint(endpoint)) + "; trying again every 3 s");
}

void Server::Serve(tcp::acceptor& acceptor, const tcp::endpoint& endpoint) {
  KeepFromChildren(static_cast<std::uintptr_t>(acceptor.native_handle()));
  log_.Write("listening on " + Where(endpoint));
  Accept(acceptor);
}

void Server::Listen() {
  tcp::endpoint endpoint(asio::ip::address_v4::loopback(),
                         static_cast<unsigned short>(bridge_.config().port));
  for (bool said = false;; said = true) {
    beast::error_code error = Bind(ipv4_, endpoint);
    if (!error) break;
    // Under fast user switching another session's bridge may hold the port: the session at the
    // console gets it once the other lets go. Anything else holding it is named for support.
    if (!said) CannotListen(endpoint, error);
    std::this_thread::sleep_for(std::chrono::seconds(3));
  }
  Serve(ipv4_, endpoint);
  HoldIpv6(false);
}

// Browsers try ::1 first for localhost: a program holding the port there would get the page's
// requests. Held as 127.0.0.1 is, while serving goes on over 127.0.0.1.
void Server::HoldIpv6(bool said) {
  tcp::endpoint endpoint(asio::ip::address_v6::loopback(),
                         static_cast<unsigned short>(bridge_.config().port));
  beast::error_code error = Bind(ipv6_, endpoint);
  if (!error) return Serve(ipv6_, endpoint);
  // A computer without IPv6 has no ::1 for anyone to take.
  if (error == asio::error::address_family_not_supported ||
      error == boost::system::errc::address_not_available) {
    log_.Write("no IPv6 loopback address here (" + error.message() + "): 127.0.0.1 alone");
    return;
  }
  if (!said) CannotListen(endpoint, error);
  ipv6_retry_.expires_after(std::chrono::seconds(3));
  ipv6_retry_.async_wait([this](beast::error_code) { HoldIpv6(true); });
}

void Server::Accept(tcp::acceptor& acceptor) {
  acceptor.async_accept([this, &acceptor](beast::error_code error, tcp::socket socket) {
    if (!error) {
      backoff_ = std::chrono::milliseconds(0);
      Admit(std::move(socket));
      return Accept(acceptor);
    }
    // Out of descriptors or memory: try again a little later rather than spin.
    backoff_ = std::min(std::chrono::milliseconds(1000),
                        std::max(std::chrono::milliseconds(50), backoff_ * 2));
    auto timer = std::make_shared<asio::steady_timer>(context_, backoff_);
    timer->async_wait([this, timer, &acceptor](beast::error_code) { Accept(acceptor); });
  });
}

// Once per program: a flood of one program's connections must not push the log's older lines
// out.
void Server::Refused(const std::string& why) {
  constexpr std::size_t kMostSaid = 256;
  if (refused_said_.size() < kMostSaid && refused_said_.insert(why).second)
    log_.Write("refused: " + why + " (its further connections are closed unsaid)");
}

void Server::Admit(tcp::socket socket) {
  KeepFromChildren(static_cast<std::uintptr_t>(socket.native_handle()));
  // Another account's program is judged on the connection alone, before a byte is read, and
  // closed at once: it takes no slot and waits for nothing.
  beast::error_code unknown, ignored;
  tcp::endpoint local = socket.local_endpoint(unknown), remote = socket.remote_endpoint(unknown);
  std::string why = "the connection's ends cannot be read";
  if (unknown || !ClientIsOwnAccount({ToEndpoint(local), ToEndpoint(remote)}, &why)) {
    socket.close(ignored);
    return Refused(why);
  }
  sessions_.remove_if([](const std::weak_ptr<Session>& session) { return session.expired(); });
  if (sessions_.size() >= kMostConnections) {
    // The oldest connection that has not even sent a request makes room: an idle flood cannot
    // keep a page out for longer than its own next connection.
    for (auto at = sessions_.begin(); at != sessions_.end(); ++at) {
      std::shared_ptr<Session> idle = at->lock();
      if (idle && idle->Idle()) {
        idle->Close();
        sessions_.erase(at);
        break;
      }
    }
  }
  if (sessions_.size() >= kMostConnections) {  // every one of them busy with a request
    beast::error_code ignored;
    socket.close(ignored);
    return;
  }
  auto session = std::make_shared<Session>(std::move(socket), *this);
  sessions_.push_back(session);
  session->ReadRequest();
}

void Server::Run() {
  Listen();
  for (;;) {
    try {
      context_.run();
      return;
    } catch (const std::exception& failure) {  // ends the connection it came from, no more
      log_.Write(std::string("a connection failed: ") + failure.what());
    }
  }
}

}  // namespace

void Serve(Bridge& bridge, RequestLog& log) {
  Server server(bridge, log);
  server.Run();
}

}  // namespace qvl
