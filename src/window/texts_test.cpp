#include "window/texts.h"

#include <gtest/gtest.h>

namespace qvl {
namespace {

// The wait the box names, in the number's own form of «секунда».
TEST(TimeoutText, TheRealWaitAsARussianReaderCountsIt) {
  const std::pair<double, const char*> cases[] = {
      {120, "Произошел таймаут 2 минуты (120 секунд), попробуйте еще раз"},
      {3, "Произошёл таймаут 3 секунды, попробуйте ещё раз"},
      {1, "Произошёл таймаут 1 секунда, попробуйте ещё раз"},
      {11, "Произошёл таймаут 11 секунд, попробуйте ещё раз"},
      {21, "Произошёл таймаут 21 секунда, попробуйте ещё раз"},
      {14, "Произошёл таймаут 14 секунд, попробуйте ещё раз"},
      {0.5, "Произошёл таймаут 0,5 секунды, попробуйте ещё раз"},
      {600, "Произошёл таймаут 600 секунд, попробуйте ещё раз"}};
  for (const auto& [seconds, text] : cases) EXPECT_EQ(TimeoutText(seconds), text) << seconds;
}

}  // namespace
}  // namespace qvl
