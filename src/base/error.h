#pragma once

#include <stdexcept>
#include <string>

namespace qvl {

// A failure that stops the run. Phases throw it with a message naming what failed; only the
// entry routine catches it, shows the message and ends the process with status 1.
class RunError : public std::runtime_error {
 public:
  explicit RunError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace qvl
