#include "window/texts.h"

namespace qvl {

std::string PromptText(bool verify, bool identify, bool verify_identify) {
  std::string title;
  if (verify) title = kTitleVerify;
  if (identify) title = kTitleIdentify;
  if (verify_identify) title = kTitleVerifyIdentify;
  if (!title.empty()) title += ":\r\n";
  return title + kPrompt;
}

}  // namespace qvl
