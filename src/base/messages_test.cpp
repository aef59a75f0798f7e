#include "base/messages.h"

#include <gtest/gtest.h>

#include <set>
#include <string>

namespace qvl {
namespace {

std::set<std::string> Blanks(std::string_view text) {
  std::set<std::string> names;
  for (std::size_t open; (open = text.find('{')) != std::string_view::npos;) {
    std::size_t close = text.find('}', open);
    names.emplace(text.substr(open + 1, close - open - 1));
    text.remove_prefix(close + 1);
  }
  return names;
}

bool StartsLower(std::string_view text) {
  auto byte = [&](std::size_t i) {
    return i < text.size() ? static_cast<unsigned char>(text[i]) : 0;
  };
  return (byte(0) >= 'a' && byte(0) <= 'z') || (byte(0) == 0xD0 && byte(1) >= 0xB0) ||
         byte(0) == 0xD1;  // а-п, р-я and ё
}

// A translation that drops or misspells a blank shows the user "{path}", or loses the path. Every
// sentence ends with a full stop, or with the system's reason, which brings its own; fragments
// that other messages take in end with neither.
TEST(Messages, EveryTextIsInBothLanguagesWithTheSameBlanksAndEnding) {
  const std::set<Message> fragments = {Message::kMatchLevel, Message::kWindowsError,
                                       Message::kTheFile, Message::kUnknownMachine,
                                       Message::kUnknownReason, Message::kThisMachine};
  for (int i = 0; i < static_cast<int>(Message::kCount); ++i) {
    auto message = static_cast<Message>(i);
    std::string_view english = MessageText(message, Language::kEnglish);
    std::string_view russian = MessageText(message, Language::kRussian);
    EXPECT_EQ(Blanks(english), Blanks(russian)) << english;
    EXPECT_NE(russian.find("\xD0"), std::string_view::npos) << "not Russian: " << russian;
    for (std::string_view text : {english, russian}) {
      bool sentence = text.back() == '.' || text.substr(text.size() - 8) == "{reason}";
      EXPECT_EQ(sentence, !fragments.count(message)) << text;
    }
    // Slips a Russian reader notices at once: a noun that may not agree with the number before
    // it, a bare path as a subject, a sentence that begins in lower case.
    std::string text(russian);
    EXPECT_EQ(text.find("} байт"), std::string::npos) << text;
    EXPECT_NE(text.rfind("{path} записан", 0), 0u) << text;
    std::size_t start = fragments.count(message) ? text.find(". ") : 0;
    for (; start != std::string::npos; start = text.find(". ", start + 1)) {
      std::size_t at = start == 0 ? 0 : start + 2;
      EXPECT_FALSE(StartsLower(text.substr(at))) << text;
    }
  }
}

// The values a Russian sentence takes in: the system's reason after a colon in lower case (an
// abbreviation kept), an English one said to be the system's, seconds with a decimal comma, a
// machine the program does not know in the genitive after «для». (English error texts: «текст
// ошибки».)
TEST(Messages, RussianValuesReadAsRussian) {
  SetLanguage(Language::kRussian);
  auto open = [](const char* reason) {
    return Say(Message::kCannotOpen, {{"path", "a"}, {"reason", reason}});
  };
  const std::pair<std::string, std::string> cases[] = {  // what is said, what it must hold
      {open("Отказано в доступе."), "a: отказано в доступе."},
      {open("Ёмкость диска исчерпана."), "a: ёмкость диска исчерпана."},
      {open("USB-устройство не отвечает."), "a: USB-устройство не отвечает."},
      {open("Access is denied."), "a: текст ошибки на английском языке: Access is denied."},
      {Say(Message::kLibraryNotOnPath, {{"reason", "not found"}}),
       "(текст ошибки на английском языке: not found)"},
      {Say(Message::kTimedOut, {{"seconds", "0.5"}}), "за 0,5 с."},
      {Say(Message::kTimedOut, {{"seconds", "1.5"}}), "за 1,5 с."},
      {Say(Message::kTimedOut, {{"seconds", "21"}}), "за 21 с."},
      {Say(Message::kMachineMismatch,
           {{"library_machine", Say(Message::kUnknownMachine, {{"code", "452"}})}}),
       "для процессора с кодом 452"},
  };
  for (const auto& [said, part] : cases) EXPECT_NE(said.find(part), std::string::npos) << said;
  SetLanguage(Language::kEnglish);
}

TEST(Messages, BlanksAreFilledByName) {
  EXPECT_EQ(Say(Message::kCannotRead, {{"reason", "gone"}, {"path", "{reason}"}}),
            "Cannot read {reason}: gone");  // a value is never read as a blank
  SetLanguage(Language::kRussian);
  EXPECT_EQ(Say(Message::kCannotRead, {{"path", "a.bin"}}), "Не удалось прочитать a.bin: {reason}");
  SetLanguage(Language::kEnglish);
}

}  // namespace
}  // namespace qvl
