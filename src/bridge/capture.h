#pragma once

#include <string>

#include "bridge/bridge.h"

namespace qvl {

// One capture as one qvlcapture run: a fresh working folder under `runs_folder` with what the
// comparison needs, the program started quiet with the request's switches, its files read back,
// and the folder removed, so that no biometric file stays on the disk after the answer.
CaptureOutcome RunCaptureProgram(const std::string& program, const std::string& runs_folder,
                                 const CaptureRequest& request, int deadline_seconds);

}  // namespace qvl
