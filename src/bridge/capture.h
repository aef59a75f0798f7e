#pragma once

#include <functional>
#include <string>

#include "bridge/bridge.h"

namespace qvl {

// One capture as one qvlcapture run: a fresh working folder under `runs_folder` with what the
// comparison needs, the program started quiet with the request's switches, its files read back,
// and the folder removed, so that no biometric file stays on the disk after the answer.
// The page's token is answered back by the bridge itself and never handed to the program.
CaptureOutcome RunCaptureProgram(const std::string& program, const std::string& runs_folder,
                                 const CaptureRequest& request, int deadline_seconds,
                                 const CancelFlag& cancel,
                                 const std::function<void(const std::string&)>& log);

}  // namespace qvl
