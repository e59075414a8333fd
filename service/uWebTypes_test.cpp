#include "service/uWebTypes.h"

#include <gtest/gtest.h>

namespace dct {
namespace {

TEST(WebTypesTest, PathAndQuery) {
  const struct {
    const char *target, *path, *Query;
  } cases[] = {
      {"/wsdl/IMobileDCT?intf=IMobileDCT&types=1#frag", "/wsdl/IMobileDCT", "intf=IMobileDCT&types=1"},
      {"/", "/", ""},
  };
  for (const auto& c : cases) {
    TWebRequest r;
    r.Target = c.target;
    EXPECT_EQ(r.Path(), c.path);
    EXPECT_EQ(r.Query(), c.Query);
  }
}

TEST(WebTypesTest, QueryFieldDecodesAndTakesTheFirst) {
  EXPECT_EQ(QueryField("intf=IMobile%44CT&intf=x", "intf"), "IMobileDCT");
  EXPECT_EQ(QueryField("a=1+2&types=1", "types"), "1");
  EXPECT_EQ(QueryField("a=%zz%4", "a"), "%zz%4");  // broken escapes stay as they are
  EXPECT_EQ(QueryField("types", "types"), "");
  EXPECT_EQ(QueryField("", "types"), "");
  EXPECT_EQ(QueryField("Types=1", "types"), "");
}

TEST(WebTypesTest, CaseFoldingIsLatinOnly) {
  EXPECT_TRUE(SameTextASCII("IMobileDCT", "imobiledct"));
  EXPECT_FALSE(SameTextASCII("Ж", "ж"));
  EXPECT_FALSE(SameTextASCII("soap", "soap2"));
  EXPECT_TRUE(StartsWithTextASCII("/SOAP/x", "/soap"));
  EXPECT_FALSE(StartsWithTextASCII("/so", "/soap"));
}

}  // namespace
}  // namespace dct
