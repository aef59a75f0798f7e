#include "run/run.h"

#include <memory>
#include <string>

#include "base/error.h"
#include "base/file.h"
#include "base/messages.h"
#include "run/command.h"
#include "scanner/capture_wait.h"
#include "templates/enrollment.h"
#include "templates/identification.h"
#include "templates/verification.h"
#include "window/texts.h"

namespace qvl {
namespace {

// The run's own state, created zero-filled when the run starts and released when it ends.
struct RunState {
  RunOptions options;
  std::string result_value = "-1";
  std::int16_t capture_flag = 0;
  ImageBuffer raw_image{};
  ImageBuffer processed_image{};
  FeatureBuffer feature{};
  FeatureBuffer stored_template{};
};

// The comparisons the caller asked for, in their fixed order; the last one that runs gives
// the answer.
void Compare(const RunContext& context, RunState& state) {
  const RunOptions& options = state.options;
  if (options.verify_mode) {
    int verdict = VerifyAgainstFile(context.scanner, context.window, context.folder, state.feature,
                                    state.stored_template, options.match_level);
    state.result_value = std::to_string(verdict);
  }
  if (options.identify_mode || options.verify_identify_mode) {
    std::string name = AnsiToPath(options.database_file);
    if (!name.empty() && (name[0] == '\\' || name[0] == '/' || name.find(':') == 1)) {
      throw RunError(Say(Message::kFullPathDatabase, {{"name", name}, {"folder", context.folder}}));
    }
    std::string path = JoinPath(context.folder, name);
    state.result_value = IdentifyInDatabase(context.scanner, context.window, path, state.feature,
                                            options.match_level, options.identify_mode,
                                            options.verify_identify_mode);
  }
}

}  // namespace

void PerformRun(const RunContext& context) {
  // Emptied before anything else, so a run that stops early never leaves an old answer behind.
  OutputFile result_file(JoinPath(context.folder, "result.txt"));
  auto state = std::make_unique<RunState>();  // about 160 KB: not for the stack
  std::string command = ReadCommandText(context.folder);
  state->options = ParseSwitches(SplitArguments(command, context.command_line_tail));
  const RunOptions& options = state->options;

  StatusWindow& window = context.window;
  window.ShowTimer("");
  window.ShowInfo(
      PromptText(options.verify_mode, options.identify_mode, options.verify_identify_mode));
  WaitForFinger(context.scanner, window, context.clock, options.timeout_seconds, state->raw_image,
                state->capture_flag);
  window.ShowTimer("");

  if (state->capture_flag == 1) {
    WriteEnrollmentOutputs(context.scanner, window, context.folder, state->raw_image,
                           state->feature, state->processed_image);
    Compare(context, *state);
    // Both lines in one write: result.txt is either empty or complete.
    result_file.Write(state->result_value + "\r\n" + options.control_token + "\r\n");
    result_file.Close();
  } else if (window.IsShown()) {
    window.ShowMessage(kTimeoutMessage);
  }
  if (options.return_focus) window.ReturnFocusToCaller();
}

}  // namespace qvl
