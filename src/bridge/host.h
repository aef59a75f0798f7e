#pragma once

// qvlbridge as the native-messaging host of the package's browser extension: the browser starts
// it in the user's session, under the user's account, and talks to it over standard input and
// output, never a port. One request a start: the same checks and answers as the HTTP service.

#include <cstdio>
#include <optional>
#include <string>

#include "bridge/bridge.h"
#include "bridge/server.h"

namespace qvl {

// The host's name, as the extension asks for it and -INSTALL registers it.
inline constexpr char kHostName[] = "ru.qvlcapture.bridge";
// The package's extension: in the Chromium family, the ID its manifest's key fixes; in Firefox,
// its browser_specific_settings.gecko.id.
inline constexpr char kExtensionId[] = "adamogejkbaedoekmofdhnmhjbjkmjmp";
inline constexpr char kFirefoxExtensionId[] = "qvlcapture@qvlcapture.ru";

// How a browser starts its host: Chrome and its kin with "chrome-extension://ID/" first (and
// arguments of their own after it), Firefox with the path of the host manifest it read and the
// extension's ID. Nullopt for anything else: switches typed by a person.
struct BrowserStart {
  std::string extension_id;
  bool firefox = false;
};
std::optional<BrowserStart> BrowserStartOf(const std::vector<std::string>& arguments);
// Whether `start`'s extension may use this host: the package's, or one in `allowed`.
bool ExtensionAllowed(const BrowserStart& start, const std::vector<std::string>& allowed);

// One message in the browser's framing: a 4-byte length in native byte order, then UTF-8 JSON.
// Nullopt at the end of the input, or with `error` set for a frame over `limit` or cut short.
std::optional<std::string> ReadFrame(std::FILE* in, std::size_t limit, std::string* error);
bool WriteFrame(std::FILE* out, const std::string& message);

// Reads one request ({"type": "request", "origin", "path", "body"}), answers it
// ({"status", "body"}), and returns the exit status. A later {"type": "cancel"}, or the input
// closing while a capture runs (the page went), cancels the capture as a closed window.
int ServeHost(Bridge& bridge, RequestLog& log, std::FILE* in, std::FILE* out);

// The host manifests browsers read: this program, for the package's extension and those of
// `more` that are the browser's own kind (Chromium's 32-letter IDs, Firefox's e-mail-like or
// {GUID} ones).
std::string HostManifest(const std::string& program, const std::vector<std::string>& more);
std::string FirefoxHostManifest(const std::string& program, const std::vector<std::string>& more);

}  // namespace qvl
