#include "buffer/uSQLText.h"

#include <gtest/gtest.h>

namespace dct {
namespace {

TEST(StringArrayToSQLList, QuotesEveryIdentifier) {
  EXPECT_EQ(StringArrayToSQLList({}), "");
  EXPECT_EQ(StringArrayToSQLList({"A"}), "'A'");
  EXPECT_EQ(StringArrayToSQLList({"id", "x') OR ('1'='1"}), "'id', 'x'') OR (''1''=''1'");
}

}  // namespace
}  // namespace dct
