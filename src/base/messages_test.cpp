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

// A translation that drops or misspells a blank shows the user "{path}", or loses the path. Every
// sentence ends with a full stop, or with the system's reason, which brings its own; fragments
// that other messages take in end with neither.
TEST(Messages, EveryTextIsInBothLanguagesWithTheSameBlanksAndEnding) {
  const std::set<Message> fragments = {Message::kMatchLevel, Message::kRecordCount,
                                       Message::kWindowsError, Message::kTheFile};
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
  }
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
