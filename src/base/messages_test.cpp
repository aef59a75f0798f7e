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

// A translation that drops or misspells a blank shows the user "{path}", or loses the path.
TEST(Messages, EveryTextIsInBothLanguagesWithTheSameBlanks) {
  for (int i = 0; i < static_cast<int>(Message::kCount); ++i) {
    std::string_view english = MessageText(static_cast<Message>(i), Language::kEnglish);
    std::string_view russian = MessageText(static_cast<Message>(i), Language::kRussian);
    EXPECT_EQ(Blanks(english), Blanks(russian)) << english;
    EXPECT_NE(russian.find("\xD0"), std::string_view::npos) << "not Russian: " << russian;
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
