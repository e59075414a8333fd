#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "buffer/SQLite3.h"
#include "support/uCommonUtils.h"

namespace dct {
namespace {

// Only the program's folder holds the default engine; either delimiter marks a path.
TEST(SQLiteLibrarySearchTest, CandidatesFollowTheSearchRule) {
  const std::string here = GetProgramFolder();
  struct TCase {
    std::string Name;
    std::vector<std::string> Expected;
  } cases[] = {
      {"", {here + "sqlite3.dll"}},
      {"C:\\engine\\sqlite3.dll", {"C:\\engine\\sqlite3.dll"}},
      {"sub\\sqlite3.dll", {"sub\\sqlite3.dll"}},
      {"sub/sqlite3.dll", {"sub/sqlite3.dll"}},
      {"other.dll", {here + "other.dll"}},
  };
  for (const TCase& c : cases) EXPECT_EQ(SQLiteLibraryCandidates(c.Name), c.Expected) << c.Name;
}

}  // namespace
}  // namespace dct
