#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "buffer/SQLite3.h"
#include "support/uCommonUtils.h"

namespace dct {
namespace {

TEST(SQLiteLibrarySearchTest, CandidatesFollowTheSearchRule) {
  const std::string here = GetProgramFolder();
  struct TCase {
    std::string Name;
    std::vector<std::string> Expected;
  } cases[] = {
      {"", {here + "libsqlite3.so.0", "libsqlite3.so.0"}},
      {"/opt/engine/libsqlite3.so", {"/opt/engine/libsqlite3.so"}},
      {"sub/libsqlite3.so", {"sub/libsqlite3.so"}},
      {"libother.so", {here + "libother.so"}},
  };
  for (const TCase& c : cases) EXPECT_EQ(SQLiteLibraryCandidates(c.Name), c.Expected) << c.Name;
}

}  // namespace
}  // namespace dct
