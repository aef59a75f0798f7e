#pragma once

#include <fstream>
#include <mutex>
#include <string>

#include "bridge/bridge.h"

namespace qvl {

// One line a request (time, origin, request, mode, ending, status, milliseconds), never a
// template or a picture; the file is kept under a size, the older lines in one .old file.
class RequestLog {
 public:
  explicit RequestLog(std::string path) : path_(std::move(path)) {}
  void Write(const std::string& line);

 private:
  std::mutex mutex_;
  std::string path_;
};

// Serves `bridge` on 127.0.0.1 at its port until the process ends. A port another session's
// bridge holds is said once in the log and tried again every few seconds.
void Serve(Bridge& bridge, RequestLog& log);

}  // namespace qvl
