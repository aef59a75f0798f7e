#pragma once

#include <stdexcept>
#include <string>

namespace qvl {

// A failure that stops the run. Phases throw it with a message naming what failed; only the
// entry routine catches it, shows the message and ends the process with the exit status of its
// kind.
class RunError : public std::runtime_error {
 public:
  enum class Kind {
    kError,         // anything the message names
    kLibraryCrash,  // the scanner library crashed (as it loaded: the loader caught the fault)
  };
  explicit RunError(const std::string& message, Kind kind = Kind::kError)
      : std::runtime_error(message), kind_(kind) {}
  Kind kind() const { return kind_; }

 private:
  Kind kind_;
};

}  // namespace qvl
