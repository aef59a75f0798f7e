// qvlbridge: the local web service through which a browser-based portal takes a print. Each
// capture is one qvlcapture run beside it, as a child process.
//
//   qvlbridge [-PORT:n]          serves http://127.0.0.1:n/v1/ (29180 unless qvlbridge.json says)
//   qvlbridge -INSTALL|-UNINSTALL  starts it at this user's logon and registers it as the
//                                  extension's host with the browsers, or no longer
//   qvlbridge -INSTALL:ALL|-UNINSTALL:ALL  registers the host for every user (no HTTP service)
//   qvlbridge chrome-extension://ID/ [--parent-window=N]
//   qvlbridge PATH/ru.qvlcapture.bridge.json FIREFOX-ID
//                                  as a browser starts its native-messaging host: one request

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <vector>
#include <string>

#include "base/error.h"
#include "base/file.h"
#include "base/messages.h"
#include "base/os.h"
#include "bridge/bridge.h"
#include "bridge/capture.h"
#include "bridge/child.h"
#include "bridge/host.h"
#include "bridge/server.h"

namespace qvl {
namespace {

#ifdef _WIN32
constexpr char kSuffix[] = ".exe";
constexpr char kLibrary[] = "QvlScanner.dll";
#else
constexpr char kSuffix[] = "";
constexpr char kLibrary[] = "libQvlScanner.so";
#endif

std::string Upper(std::string text) {
  for (char& c : text) {
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  }
  return text;
}

constexpr char kUsage[] =
    "Usage: qvlbridge [-PORT:n]      serve pages at http://127.0.0.1:n/ (29180 unless\n"
    "                                qvlbridge.json says otherwise)\n"
    "       qvlbridge -INSTALL       start it at this user's logon, and register it as the\n"
    "                                browser extension's host\n"
    "       qvlbridge -UNINSTALL     no longer\n"
    "       qvlbridge -INSTALL:ALL   register the host for every user of this computer (an\n"
    "                                administrator's install: no HTTP service), or\n"
    "                                -UNINSTALL:ALL no longer\n"
    "       qvlbridge -h             this text\n"
    "A browser starts it as its extension's native-messaging host itself.\n";

// On stderr, and in the log: started at logon, or by a double click on Windows, nobody sees
// stderr.
int Fail(const std::string& message) {
  std::fprintf(stderr, "qvlbridge: %s\n", message.c_str());
  try {
    std::string data = BridgeDataFolder(), ignored;
    MakePrivateFolder(data, &ignored);
    RequestLog(JoinPath(data, "qvlbridge.log")).Write("cannot start: " + message);
  } catch (const std::exception&) {  // no folder to say it in: stderr is all there is
  }
  return 1;
}

int Main(int argc, char** argv) {
  SetLanguage(UserLanguage());
  std::string folder = ProgramFolder();
  std::string config_path = JoinPath(folder, "qvlbridge.json");
  BridgeConfig config;
  if (RegularFileLength(config_path)) {
    std::vector<std::uint8_t> bytes = ReadFileBytes(config_path);
    std::string error;
    std::optional<BridgeConfig> read =
        ParseBridgeConfig({reinterpret_cast<const char*>(bytes.data()), bytes.size()}, &error);
    if (!read) return Fail(config_path + ": " + error);
    config = *read;
  }
  std::optional<BrowserStart> host =
      BrowserStartOf(std::vector<std::string>(argv + 1, argv + argc));
  if (host && !ExtensionAllowed(*host, config.allowed_extensions))
    return Fail("the extension " + host->extension_id + " is not in allowed_extensions");
  if (!host && argc > 1) UseCallersConsole();
  for (int i = 1; i < argc && !host; ++i) {
    std::string argument = Upper(argv[i]);
    if (argument == "-H" || argument == "-?" || argument == "/?" || argument == "--HELP") {
      std::fputs(kUsage, stdout);
      return 0;
    }
    bool every_user = argument == "-INSTALL:ALL" || argument == "-UNINSTALL:ALL";
    if (argument == "-INSTALL" || argument == "-UNINSTALL" || every_user) {
      std::string error;
      std::string self = JoinPath(folder, std::string("qvlbridge") + kSuffix);
      bool install = argument.compare(0, 8, "-INSTALL") == 0;
      HostManifests manifests{HostManifest(self, config.allowed_extensions),
                              FirefoxHostManifest(self, config.allowed_extensions)};
      // For every user the extension is the channel: on a terminal server the sessions would
      // share one loopback port, so no HTTP service starts at anyone's logon.
      if ((!every_user && !StartAtLogon(self, install, &error)) ||
          !RegisterHost(kHostName, manifests, folder, every_user, install, &error))
        return Fail(error);
      return 0;
    }
    if (argument.compare(0, 6, "-PORT:") == 0) {
      char* end = nullptr;
      long port = std::strtol(argv[i] + 6, &end, 10);
      if (*end || port < 1 || port > 65535) return Fail("-PORT: takes a number from 1 to 65535");
      config.port = static_cast<int>(port);
    } else {
      // Never serve on a mistake: whoever typed it expects something else.
      std::fputs(kUsage, stderr);
      return Fail(std::string(argv[i]) + " is no switch of qvlbridge");
    }
  }
  std::string data = BridgeDataFolder();
  std::string program = JoinPath(folder, std::string("qvlcapture") + kSuffix);
  std::string error;
  if (!MakePrivateFolder(data, &error)) return Fail(data + ": " + error);
  RequestLog log(JoinPath(data, "qvlbridge.log"));
  // A run's folder is named first by its bridge's process id and start time. One whose bridge no
  // longer runs was left by a bridge that was killed or lost its power: removed, prints
  // included, before this one listens.
  std::string runs = JoinPath(data, "runs");
  std::error_code failed;
  for (const auto& entry : std::filesystem::directory_iterator(std::filesystem::u8path(runs), failed)) {
    std::string name = entry.path().filename().u8string();
    if (BridgeRuns(name.substr(0, name.find('-', name.find('-') + 1)))) continue;
    std::error_code ignored;
    std::filesystem::remove_all(entry.path(), ignored);
    if (ignored) log.Write("cannot remove " + entry.path().u8string() + ": " + ignored.message());
  }
  Bridge bridge(
      config,
      [&](const CaptureRequest& request, int deadline, const CancelFlag& cancel) {
        return RunCaptureProgram(program, runs, request, deadline, cancel,
                                 [&](const std::string& line) { log.Write(line); });
      },
      [&] { return RegularFileLength(JoinPath(folder, kLibrary)).has_value(); });
  if (host) {
    BinaryStandardStreams();
    int status = ServeHost(bridge, log, stdin, stdout);
    // The watch for a cancel still reads the input: the process ends without waiting for it.
    std::fflush(stdout);
    std::_Exit(status);
  }
  Serve(bridge, log);
  return 0;
}

}  // namespace
}  // namespace qvl

int main(int argc, char** argv) {
  try {
    return qvl::Main(argc, argv);
  } catch (const std::exception& error) {
    return qvl::Fail(error.what());
  }
}
