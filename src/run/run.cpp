#include "run/run.h"

#include <memory>
#include <optional>
#include <string>

#include "base/error.h"
#include "base/fault.h"
#include "base/file.h"
#include "base/messages.h"
#include "base/numbers.h"
#include "scanner/capture_wait.h"
#include "templates/enrollment.h"
#include "templates/identification.h"
#include "templates/verification.h"
#include "window/texts.h"

namespace qvl {
namespace {

// The run's own state, created zero-filled when the run starts and released when it ends.
struct RunState {
  std::string result_value = "-1";
  std::int16_t capture_flag = 0;
  ImageBuffer raw_image{};
  ImageBuffer processed_image{};
  FeatureBuffer feature{};
  // What the comparisons compare with, read before the finger is asked for.
  std::int16_t level = 0;
  bool has_stored_template = false;
  FeatureBuffer stored_template{};
  std::optional<DatabaseBuffer> database;
};

// The files the comparisons need, before the finger: a setup mistake (a missing database, an
// over-long verify1.bin, a level out of range) stops the run before anyone puts a finger down,
// and a file rewritten during the wait cannot change the answer.
void ReadInputs(const RunContext& context, RunState& state) {
  const RunOptions& options = context.options;
  bool identify = options.identify_mode || options.verify_identify_mode;
  if (!options.verify_mode && !identify) return;
  state.level = ToInt16(options.match_level, Say(Message::kMatchLevel));
  if (options.verify_mode) {
    state.has_stored_template =
        LoadStoredTemplate(context.folder, state.stored_template, context.window);
  }
  if (identify) {
    // A shared database by its full path, or a name relative to the working folder.
    const std::string& name = options.database_file;
    PathKind kind = KindOfPath(name);
    if (kind == PathKind::kAnchored) {
      throw RunError(Say(Message::kFullPathDatabase, {{"name", name}, {"folder", context.folder}}));
    }
    std::string path = kind == PathKind::kFull ? name : JoinPath(context.folder, name);
    state.database = ReadDatabase(context.window, path, options.identify_mode);
  }
}

// The comparisons the caller asked for, in their fixed order; the last one that runs gives
// the answer.
void Compare(const RunContext& context, RunState& state) {
  const RunOptions& options = context.options;
  if (options.verify_mode) {
    const FeatureBuffer* stored = state.has_stored_template ? &state.stored_template : nullptr;
    state.result_value =
        std::to_string(Verify(context.scanner, state.feature, stored, state.level));
  }
  if (state.database) {
    state.result_value = Identify(context.scanner, *state.database, state.feature, state.level,
                                  options.identify_mode, options.verify_identify_mode);
  }
}

}  // namespace

Ending PerformRun(const RunContext& context) {
  // Emptied before anything else, so a run that stops early never leaves an old answer behind.
  OutputFile result_file(JoinPath(context.folder, "result.txt"));
  const RunOptions& options = context.options;
  auto state = std::make_unique<RunState>();  // about 160 KB: not for the stack
  // A mistake found before the scanner is opened lets the scanner go before its message shows;
  // once open, the library has no close, and the lock stays with the process.
  try {
    if (!context.intake_error.empty()) throw RunError(context.intake_error);
    ReadInputs(context, *state);
  } catch (const RunError&) {
    ReleaseScanner();
    throw;
  }

  StatusWindow& window = context.window;
  window.ShowTimer("");
  window.ShowInfo(
      PromptText(options.verify_mode, options.identify_mode, options.verify_identify_mode));
  std::int16_t open_status =
      WaitForFinger(context.scanner, window, context.clock, options.timeout_seconds,
                    state->raw_image, state->capture_flag);
  window.ShowTimer("");

  Ending ending;
  if (state->capture_flag == 1) {
    bool picture = WriteEnrollmentOutputs(context.scanner, window, context.folder, state->raw_image,
                                          state->feature, state->processed_image);
    Compare(context, *state);
    // Both lines in one write: result.txt is either empty or complete. Never after a fault on a
    // thread of the library's own: the run waits here for its report to end the process.
    HoldIfEnding();
    try {
      result_file.Write(ResultText(state->result_value + "\r\n" + options.control_token + "\r\n",
                                   options.answer_encoding));
      result_file.Close();
    } catch (const RunError&) {
      EmptyIfPossible(result_file.path());  // a full disk may have kept a part of the write
      throw;
    }
    ending = picture ? Ending::kAnswered : Ending::kAnsweredOldPicture;
    if (!picture && options.quiet) WriteStandardError(Say(Message::kPictureNotThisRuns));
  } else {
    ending = state->capture_flag != 0 ? Ending::kNotAPrint
             : window.IsShown()       ? Ending::kTimedOut
                                      : Ending::kWindowClosed;
    // The box keeps the words callers' users know; error.txt says what really happened.
    if (ending != Ending::kWindowClosed && options.quiet) {
      std::string text =
          ending == Ending::kNotAPrint
              ? Say(Message::kNotAPrint, {{"flag", std::to_string(state->capture_flag)}})
              : Say(options.timeout_seconds > 0 ? Message::kTimedOut : Message::kTimedOutAtOnce,
                    {{"seconds", NumberText(options.timeout_seconds)},
                     {"status", std::to_string(open_status)}});
      WriteErrorText(JoinPath(context.folder, kErrorFileName), text);
      WriteStandardError(text);
    } else if (window.IsShown()) {
      window.ShowMessage(TimeoutText(options.timeout_seconds));
    }
  }
  if (options.return_focus) window.ReturnFocusToCaller();
  return ending;
}

}  // namespace qvl
