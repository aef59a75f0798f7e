#pragma once

// The bridge's side of the system: one qvlcapture run as a child process that a vendor crash or
// hang can end, never the bridge; where the bridge keeps its runs and its log; starting at logon.
// One implementation file per platform (child-posix.cpp, child-win32.cpp).

#include <string>
#include <vector>

namespace qvl {

struct ChildEnd {
  bool killed = false;  // the deadline passed: the child and everything it started were ended
  int status = -1;      // its exit status, when it ended by itself
};

// Runs `program` with `arguments` in `folder` until it ends, or for at most `deadline_seconds`;
// then it is killed with every process it started (a process group; a Job object on Windows).
// A child that cannot be started is a RunError.
ChildEnd RunChild(const std::string& program, const std::vector<std::string>& arguments,
                  const std::string& folder, int deadline_seconds);

// The folder of the bridge's own files, the user's: its log, and a fresh folder per run.
// Windows: %LOCALAPPDATA%\qvlbridge; elsewhere $XDG_STATE_HOME/qvlbridge or ~/.local/state/...
std::string BridgeDataFolder();

// Adds or removes the current user's start of `program` at logon (Windows: HKCU Run; elsewhere
// an XDG autostart entry). False with `error` set when the system refuses.
bool StartAtLogon(const std::string& program, bool start, std::string* error);

}  // namespace qvl
