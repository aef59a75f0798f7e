#pragma once

// The bridge's side of the system: one qvlcapture run as a child process that a vendor crash or
// hang can end, never the bridge; where the bridge keeps its runs and its log; starting at logon.
// One implementation file per platform (child-posix.cpp, child-win32.cpp).

#include <algorithm>
#include <atomic>
#include <cstdint>
#include <functional>
#include <string>
#include <string_view>
#include <vector>

namespace qvl {

struct ChildEnd {
  bool killed = false;  // the child and everything it started were ended
  int status = -1;      // its exit status, when it ended by itself
  // What it wrote to its standard error (under -QUIET, every message), up to kMostErrorText:
  // the message where a full disk kept it from error.txt.
  std::string standard_error;
};
inline constexpr std::size_t kMostErrorText = 64 * 1024;
// Appends what the run has just written to its standard error, while there is room.
inline void KeepErrorText(std::string& kept, std::string_view more) {
  kept.append(more.substr(0, kMostErrorText - std::min(kept.size(), kMostErrorText)));
}

// How long a cancelled run has to close by itself before it is ended.
inline constexpr int kCloseSeconds = 2;

// Runs `program` with `arguments` in `folder` until it ends, or for at most `deadline_seconds`;
// then it is killed with every process it started (a process group; a Job object on Windows).
// Once `cancel` is set, the run is closed as a person closes its window (Windows: WM_CLOSE to
// its windows; elsewhere SIGINT, the console window's close), and ended kCloseSeconds later if
// it has not ended. The run ends with the bridge, however the bridge ends. What the system does
// not allow of that goes to `log`. A child that cannot be started is a RunError.
ChildEnd RunChild(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& folder, int deadline_seconds, const std::atomic<bool>& cancel,
                  const std::function<void(const std::string&)>& log);

// The folder of the bridge's own files, the user's: its log, and a fresh folder per run.
// Windows: %LOCALAPPDATA%\qvlbridge; elsewhere $XDG_STATE_HOME/qvlbridge or ~/.local/state/...
// under the account's home (from the password database when HOME is not set).
std::string BridgeDataFolder();

// Makes `folder` (its parents as need be) this account's alone: 0700, or on Windows a DACL of
// the user and SYSTEM that inherits nothing from a shared parent. From the first call on, the
// files the bridge and its runs create are private too (umask 077). False with `error`, the
// system's reason alone (the caller names the folder).
bool MakePrivateFolder(const std::string& folder, std::string* error);

// This process as its run folders' names begin: its id and the time it started ("1234-98765"),
// so that a later process that got the same id is never taken for it.
std::string OwnProcessStamp();
// Whether the process of `stamp` still runs (a zombie does not) and is a qvlbridge.
bool BridgeRuns(const std::string& stamp);

// The host's manifests: the Chromium family's (allowed_origins) and Firefox's
// (allowed_extensions).
struct HostManifests {
  std::string chromium, firefox;
};
// Registers the native-messaging host `name` with Google Chrome, Microsoft Edge, Yandex
// Browser, Chromium and Firefox, or removes it (`install` false): for the current user, or, with
// `every_user`, for every user of the computer, its manifests where users cannot change them.
//   Windows, a user: the manifests in the bridge's data folder, and the key
//     HKCU\Software\<browser>\NativeMessagingHosts\<name>. Every user: the manifests in
//     `program_folder` (Program Files), HKLM keys in both registry views, as 32-bit and 64-bit
//     browsers read them.
//   Elsewhere, a user: $XDG_CONFIG_HOME/<browser>/NativeMessagingHosts and
//     ~/.mozilla/native-messaging-hosts. Every user: each browser's system folder under /etc
//     (Firefox: /usr/lib/mozilla/native-messaging-hosts), below $QVLBRIDGE_ROOT where set.
// False with `error`, which says so where administrator rights are missing.
bool RegisterHost(const std::string& name, const HostManifests& manifests,
                  const std::string& program_folder, bool every_user, bool install,
                  std::string* error);

// Standard input and output carry bytes as they are (the browser's framing), with no
// translation of line ends.
void BinaryStandardStreams();

// Standard output and error reach the console the program was typed in where they lead nowhere
// else: on Windows qvlbridge is a windowed program, which has none of its own.
void UseCallersConsole();

// Keeps the socket `handle` from every child process.
void KeepFromChildren(std::uintptr_t handle);

// Adds or removes the current user's start of `program` at logon (Windows: HKCU Run; elsewhere
// an XDG autostart entry). False with `error` set when the system refuses.
bool StartAtLogon(const std::string& program, bool start, std::string* error);

}  // namespace qvl
