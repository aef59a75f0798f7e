#include "templates/enrollment.h"

#include <gtest/gtest.h>

#include "testing/fakes.h"
#include "window/texts.h"

namespace qvl {
namespace {

TEST(WriteEnrollmentOutputs, PictureReplacedThenFeatureTxtHoldsTheLibrarysTemplate) {
  ScopedTempDir dir;
  FakeWindow window;
  FakeScanner scanner;
  ImageBuffer raw{}, processed{};
  FeatureBuffer feature{};
  dir.Write("feature.txt", std::string(5000, 'x'));  // a longer old file is replaced whole
  dir.Write("scan.bmp", "old");
  scanner.template_to_give = {0, 255};  // a real template may start with 0
  scanner.template_to_give[256] = 10;
  EXPECT_TRUE(WriteEnrollmentOutputs(scanner, window, dir.path(), raw, feature, processed));
  EXPECT_EQ(window.Shown("info"), std::vector<std::string>{kCaptured});
  EXPECT_EQ(dir.Read("scan.bmp").substr(0, 3), "BM\x1A");  // the fake's whole picture
  std::string zeros;
  for (int i = 0; i < 254; ++i) zeros += "0\r\n";
  EXPECT_EQ(dir.Read("feature.txt"), "0\r\n255\r\n" + zeros + "10\r\n");
}

}  // namespace
}  // namespace qvl
