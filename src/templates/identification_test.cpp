#include "templates/identification.h"

#include <gtest/gtest.h>

#include "testing/fakes.h"
#include "window/texts.h"

namespace qvl {
namespace {

// Records that start with the given bytes; the fake matches by the first byte.
std::string Records(const std::string& first_bytes) {
  std::string bytes;
  for (char c : first_bytes) bytes += c + std::string(255, '\0');
  return bytes;
}

TEST(IdentifyInDatabase, EveryMatchInOrderOrTheLibrarysAnswer) {
  const std::tuple<std::string, bool, const char*> cases[] = {
      {Records("\5\1\5\5\2\5"), false, "0,2,3,5"},
      {Records("\1\2"), false, ""},
      {Records("\1\5") + std::string(44, '\5'), false, "1"},  // a part record is ignored
      {"", false, ""},
      {Records("\1\5\3"), true, "-7"}};  // one to many
  ScopedTempDir dir;
  FakeWindow window;
  FakeScanner scanner;
  scanner.match_n_answer = -7;
  FeatureBuffer probe{5};
  for (const auto& [database, one_to_many, answer] : cases) {
    dir.Write("match.bin", database);
    EXPECT_EQ(IdentifyInDatabase(scanner, window, dir.File("match.bin"), probe, 4.5, one_to_many,
                                 !one_to_many),
              answer);
  }
  EXPECT_EQ(scanner.match_n_count, 3);
  EXPECT_EQ(scanner.levels.back(), 4);
  EXPECT_EQ(window.Shown("timer").front(), kReadingDatabase);
  EXPECT_EQ(window.Shown("timer").back(), "");
}

}  // namespace
}  // namespace qvl
