#include "templates/enrollment.h"

#include <gtest/gtest.h>

#include <algorithm>

#include "base/os.h"
#include "testing/fakes.h"
#include "window/texts.h"

namespace qvl {
namespace {

TEST(FeatureText, EveryByteInDecimalOnItsOwnCrLfLine) {
  FeatureBuffer feature{};
  feature[0] = 7;
  feature[1] = 255;
  feature[256] = 10;
  std::string text = FeatureText(feature);
  EXPECT_EQ(text.substr(0, 11), "7\r\n255\r\n0\r\n");
  EXPECT_EQ(text.substr(text.size() - 7), "0\r\n10\r\n");
  EXPECT_EQ(std::count(text.begin(), text.end(), '\n'), 257);
  EXPECT_EQ(std::count(text.begin(), text.end(), '\r'), 257);
}

TEST(WriteEnrollmentOutputs, WritesBothFilesFromTheLibrarysTemplate) {
  ScopedTempDir dir;
  dir.Write("feature.txt", std::string(5000, 'x'));  // a longer old file is replaced whole
  FakeWindow window;
  FakeScanner scanner;
  scanner.template_to_give[3] = 200;
  ImageBuffer raw{}, processed{};
  FeatureBuffer feature{};
  WriteEnrollmentOutputs(scanner, window, dir.path(), raw, feature, processed);
  EXPECT_EQ(window.Shown("info"), std::vector<std::string>{kCaptured});
  EXPECT_EQ(scanner.calls, (std::vector<std::string>{"process", "bmp"}));
  EXPECT_EQ(scanner.bmp_path, JoinPath(dir.path(), "scan.bmp"));
  EXPECT_EQ(feature[3], 200);
  EXPECT_EQ(dir.Read("feature.txt"), FeatureText(feature));
}

}  // namespace
}  // namespace qvl
