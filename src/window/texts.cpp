#include "window/texts.h"

#include "base/numbers.h"

namespace qvl {

std::string PromptText(bool verify, bool identify, bool verify_identify) {
  std::string title;
  if (verify) title = kTitleVerify;
  if (identify) title = kTitleIdentify;
  if (verify_identify) title = kTitleVerifyIdentify;
  if (!title.empty()) title += ":\r\n";
  return title + kPrompt;
}

std::string CountdownText(double seconds_left) {
  std::string number = NumberText(seconds_left > 0 ? seconds_left : 0);
  for (char& c : number) c = c == '.' ? ',' : c;
  return number;
}

std::string TimeoutText(double seconds) {
  if (seconds == 120) return kTimeoutMessage;
  if (!(seconds > 0)) return "Отпечаток не получен, попробуйте ещё раз";
  std::string number = CountdownText(seconds);
  // 1, 21 секунда; 2-4, 22-24 секунды (and a fraction: 0,5 секунды); 5-20, 25-30 секунд.
  long whole = static_cast<long>(seconds);
  long last = whole % 10, last_two = whole % 100;
  const char* noun = whole != seconds                                           ? "секунды"
                     : last == 1 && last_two != 11                              ? "секунда"
                     : last >= 2 && last <= 4 && (last_two < 12 || last_two > 14) ? "секунды"
                                                                                : "секунд";
  return "Произошёл таймаут " + number + " " + noun + ", попробуйте ещё раз";
}

}  // namespace qvl
