#include "bridge/base64.h"

#include <gtest/gtest.h>

namespace qvl {
namespace {

// RFC 4648's vectors both ways, and what a page may send that is no base64.
TEST(Base64, RoundTripsAndRefusesWhatIsNoBase64) {
  const std::pair<const char*, const char*> vectors[] = {{"", ""},
                                                         {"f", "Zg=="},
                                                         {"fo", "Zm8="},
                                                         {"foo", "Zm9v"},
                                                         {"foob", "Zm9vYg=="},
                                                         {"fooba", "Zm9vYmE="},
                                                         {"foobar", "Zm9vYmFy"}};
  for (const auto& [plain, encoded] : vectors) {
    std::vector<std::uint8_t> bytes(plain, plain + std::char_traits<char>::length(plain));
    EXPECT_EQ(EncodeBase64(bytes), encoded);
    EXPECT_EQ(DecodeBase64(encoded), bytes) << encoded;
  }
  std::vector<std::uint8_t> all(256);
  for (int i = 0; i < 256; ++i) all[i] = static_cast<std::uint8_t>(i);
  EXPECT_EQ(DecodeBase64(EncodeBase64(all)), all);
  for (const char* wrong : {"Zg=", "Zg", "Z===", "Zm9v\n", "Zg==Zg==", "Zm-v", "=Zg="})
    EXPECT_FALSE(DecodeBase64(wrong)) << wrong;
}

}  // namespace
}  // namespace qvl
