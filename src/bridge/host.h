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
// The package's extension, whose ID its manifest's key fixes.
inline constexpr char kExtensionId[] = "adamogejkbaedoekmofdhnmhjbjkmjmp";

// One message in the browser's framing: a 4-byte length in native byte order, then UTF-8 JSON.
// Nullopt at the end of the input, or with `error` set for a frame over `limit` or cut short.
std::optional<std::string> ReadFrame(std::FILE* in, std::size_t limit, std::string* error);
bool WriteFrame(std::FILE* out, const std::string& message);

// Reads one request ({"type": "request", "origin", "path", "body"}), answers it
// ({"status", "body"}), and returns the exit status. A later {"type": "cancel"}, or the input
// closing while a capture runs (the page went), cancels the capture as a closed window.
int ServeHost(Bridge& bridge, RequestLog& log, std::FILE* in, std::FILE* out);

// The host manifest a browser reads: this program, for the package's extension and `more`.
std::string HostManifest(const std::string& program, const std::vector<std::string>& more);

}  // namespace qvl
