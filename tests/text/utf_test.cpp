#include "text/utf.h"

#include <gtest/gtest.h>

namespace tarnwick {
namespace {

TEST(Utf, Utf8RoundTripKeepsEveryPlane) {
  std::u16string s = u"a\u00e9\u6f22\U0001F600";
  EXPECT_EQ(s, FromUtf8(ToUtf8(s)));
  EXPECT_EQ("a\xc3\xa9\xe6\xbc\xa2\xf0\x9f\x98\x80", ToUtf8(s));
}

TEST(Utf, IllFormedUtf8BecomesReplacement) {
  EXPECT_EQ(u"a\uFFFDb", FromUtf8("a\xff" "b"));
  EXPECT_EQ("\xef\xbf\xbd", ToUtf8(std::u16string(1, char16_t(0xD800))));
}

TEST(Utf, FileNamesThatAreNotUtf8SurviveTheRoundTrip) {
  const std::string names[] = {"plain.jww", "\xe5\x9b\xb3\xe9\x9d\xa2.jww", "bad\xff\xfe.jww", "\x82\xa0.jws",
                               "cut\xe5\x9b"};
  for (const std::string& n : names) EXPECT_EQ(n, NativePath(PathText(n))) << n;
  EXPECT_EQ(u"bad\xDCFF\xDCFE.jww", PathText("bad\xff\xfe.jww"));
}

}  // namespace
}  // namespace tarnwick
