#include "window/texts.h"

#include <gtest/gtest.h>

namespace qvl {
namespace {

TEST(PromptText, TitleOfTheLastModeSetThenThePrompt) {
  EXPECT_EQ(PromptText(false, false, false), kPrompt);
  EXPECT_EQ(PromptText(true, false, false), std::string("Верификация:\r\n") + kPrompt);
  EXPECT_EQ(PromptText(true, true, false), std::string("Идентификация:\r\n") + kPrompt);
  EXPECT_EQ(PromptText(true, true, true),
            std::string("Идентификация через верификацию:\r\n") + kPrompt);
}

}  // namespace
}  // namespace qvl
