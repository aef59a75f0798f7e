#pragma once

// The texts the user reads, in UTF-8. They are the program's fixed wording: callers and their
// users know them, so they change only on purpose.

#include <string>

namespace qvl {

inline constexpr char kProgramName[] = "qvlcapture";
inline constexpr char kWindowCaption[] = "Биометрия для сканеров Quarvel от Tormel 2012-12-20";
inline constexpr char kInitialInfo[] = "---";
inline constexpr char kInitialTimer[] = "-";
inline constexpr char kTitleVerify[] = "Верификация";
inline constexpr char kTitleIdentify[] = "Идентификация";
inline constexpr char kTitleVerifyIdentify[] = "Идентификация через верификацию";
inline constexpr char kPrompt[] =
    "Приложите палец к устройству и удерживайте, пока не изменится надпись! "
    "Если необходимо, можно закрыть окно крестиком!";
inline constexpr char kCaptured[] = "Отпечаток получен!";
inline constexpr char kReadingDatabase[] = "Чтение базы отпечатков";
// The original wording, which callers' users know, for the default wait of 120 s.
inline constexpr char kTimeoutMessage[] =
    "Произошел таймаут 2 минуты (120 секунд), попробуйте еще раз";

// The timeout box for a wait of `seconds`: the original wording for 120, else the real wait;
// none at all for a wait of 0 or less, which polls once (or for about a second).
std::string TimeoutText(double seconds);
// The countdown's seconds left: a decimal comma, and never below 0.
std::string CountdownText(double seconds_left);

// The instruction shown while waiting: the title of the requested mode (the last of verify,
// identify, verify-identify that is set wins), then the prompt.
std::string PromptText(bool verify, bool identify, bool verify_identify);

}  // namespace qvl
