#pragma once

// How a run of qvlcapture ended: its exit status, which callers branch on, and the name a web
// page reads for it from qvlbridge. One table for both programs.

namespace qvl {

enum class Ending {
  kAnswered = 0,            // result.txt, feature.txt and scan.bmp are all this run's
  kError = 1,               // an error stopped the run; its message names it
  kTimedOut = 2,            // no print: the wait timed out
  kWindowClosed = 3,        // no print: the user closed the window
  kNotAPrint = 4,           // no print: the scanner reported something else
  kRefused = 5,             // another capture runs (this folder or this scanner); nothing touched
  kLibraryCrashed = 6,      // the scanner library crashed
  kAnsweredOldPicture = 7,  // answered, but scan.bmp is not this run's whole (held, cut, none)
  kLibraryHung = 8,         // a call into the scanner library did not return in time
};

struct EndingName {
  Ending ending;
  const char* name;
};
inline constexpr EndingName kEndingNames[] = {
    {Ending::kAnswered, "answered"},
    {Ending::kError, "error"},
    {Ending::kTimedOut, "timed_out"},
    {Ending::kWindowClosed, "window_closed"},
    {Ending::kNotAPrint, "not_a_print"},
    {Ending::kRefused, "busy"},
    {Ending::kLibraryCrashed, "library_crashed"},
    {Ending::kAnsweredOldPicture, "picture_not_replaced"},
    {Ending::kLibraryHung, "library_hung"},
};

// The name of the exit status `status`; nullptr for one no run ends with.
inline const char* NameOfEnding(int status) {
  for (const EndingName& known : kEndingNames) {
    if (static_cast<int>(known.ending) == status) return known.name;
  }
  return nullptr;
}
inline const char* NameOfEnding(Ending ending) { return NameOfEnding(static_cast<int>(ending)); }

// Whether a run that ended so carries an answer in result.txt.
inline bool Answered(int status) {
  return status == static_cast<int>(Ending::kAnswered) ||
         status == static_cast<int>(Ending::kAnsweredOldPicture);
}

}  // namespace qvl
