// The counts the buffer keeps by its own writes must equal what a fresh count of the file
// gives, after every kind of write, a failed one included.
#include <gtest/gtest.h>

#include <functional>
#include <string>
#include <vector>

#include "buffer/DataBufferFixture.h"
#include "buffer/SQLiteFaults.h"

namespace dct {
namespace {

using testing::Doc;
using testing::Item;

// "items N; s<source>=<documents>/<rows> ...": one line to compare.
std::string CountsText(const TBufferCounts& c) {
  if (!c.Open) return "closed";
  std::string out = (c.Known ? "" : "unknown ") + std::string("items ") + std::to_string(c.Items) + ";";
  for (const auto& [source, s] : c.Sources)
    out += " s" + std::to_string(source) + "=" + std::to_string(s.Documents) + "/" + std::to_string(s.Rows);
  return out;
}

class DataBufferCountsTest : public testing::TDataBufferFixture {
 protected:
  // The kept counts, after checking them against the file counted anew by a reopen.
  std::string KeptAndChecked() {
    const std::string kept = CountsText(FBuffer->Counts());
    FBuffer->Disable();
    EXPECT_EQ(CountsText(FBuffer->Counts()), "closed");
    EXPECT_EQ(FBuffer->Enable(), 0);
    EXPECT_EQ(CountsText(FBuffer->Counts()), kept) << "kept counts drifted from the file";
    return kept;
  }
};

TEST_F(DataBufferCountsTest, FollowEveryWrite) {
  struct TStep {
    const char* What;
    std::function<int(TDataBuffer&)> Write;
    const char* Expected;
  };
  const std::vector<TStep> steps = {
      {"empty", [](TDataBuffer&) { return 0; }, "items 0;"},
      {"load with a repeated barcode",
       [](TDataBuffer& b) {
         return b.SaveItems({Item("1"), Item("2"), Item("1"), Item("3")}, true);
       },
       "items 3;"},
      {"add one new, one known",
       [](TDataBuffer& b) {
         return b.SaveItems({Item("3"), Item("4")});
       },
       "items 4;"},
      {"replacing load", [](TDataBuffer& b) { return b.SaveItems({Item("9")}, true); }, "items 1;"},
      {"push to source 1",
       [](TDataBuffer& b) {
         return b.SaveDoc(Doc("A", 1, {{"1", 1, ""}, {"2", 2, ""}}));
       },
       "items 1; s1=1/2"},
      {"merge a row, zero a row",
       [](TDataBuffer& b) {
         return b.SaveDoc(Doc("A", 1, {{"3", 1, ""}, {"1", 0, ""}}));
       },
       "items 1; s1=1/2"},
      {"a document without rows", [](TDataBuffer& b) { return b.SaveDoc(Doc("B", 1)); }, "items 1; s1=2/2"},
      {"prepared in source 0",
       [](TDataBuffer& b) {
         return b.SaveDoc(Doc("C", 0, {{"1", 5, "s1"}, {"1", 5, "s2"}}));
       },
       "items 1; s0=1/2 s1=2/2"},
      {"A moves to source 0 with its rows replaced",
       [](TDataBuffer& b) {
         return b.SaveDoc(Doc("A", 0, {{"7", 1, ""}}), true);
       },
       "items 1; s0=2/3 s1=1/0"},
      {"delete two and a missing one",
       [](TDataBuffer& b) {
         return b.DeleteDoc({"A", "B", "nope"});
       },
       "items 1; s0=1/2"},
      {"clear source 1 leaves 0", [](TDataBuffer& b) { return b.ClearDocs(1); }, "items 1; s0=1/2"},
      {"clear source 0", [](TDataBuffer& b) { return b.ClearDocs(0); }, "items 1;"},
      {"again, then clear all",
       [](TDataBuffer& b) {
         b.SaveDoc(Doc("D", 1, {{"1", 1, ""}}));
         b.SaveDoc(Doc("E", 2));
         return b.ClearDocs(-1);
       },
       "items 1;"},
      {"clear items", [](TDataBuffer& b) { return b.ClearItems(); }, "items 0;"},
  };
  for (const TStep& step : steps) {
    SCOPED_TRACE(step.What);
    ASSERT_EQ(step.Write(*FBuffer), 0) << FBuffer->ResultDescription();
    EXPECT_EQ(KeptAndChecked(), step.Expected);
  }
  EXPECT_EQ(FBuffer->Counts().FileName, FBuffer->FileName());
}

TEST_F(DataBufferCountsTest, FailedWritesCountAnew) {
  ASSERT_EQ(FBuffer->SaveItems({Item("1"), Item("2")}, true), 0);
  ASSERT_EQ(FBuffer->SaveDoc(Doc("A", 1, {{"1", 1, ""}})), 0);
  {
    // Adding keeps the items stored before the failure: one of the two.
    TSQLiteFaults faults;
    faults.Fail(TSQLiteFaults::kStep, "INSERT OR REPLACE INTO items", 2, 1, SQLITE_IOERR);
    EXPECT_EQ(FBuffer->SaveItems({Item("3"), Item("4")}), 1001);
  }
  EXPECT_EQ(KeptAndChecked(), "items 3; s1=1/1");
  {
    TSQLiteFaults faults;
    faults.Fail(TSQLiteFaults::kStep, "INSERT OR REPLACE INTO doctables", 2, 1, SQLITE_IOERR);
    EXPECT_EQ(FBuffer->SaveDoc(Doc("A", 0, {{"5", 1, ""}, {"6", 1, ""}})), 1001);
  }
  EXPECT_EQ(KeptAndChecked(), "items 3; s1=1/1");
  {
    // The rows go, the headers' delete fails: the next count shows the headers without rows.
    TSQLiteFaults faults;
    faults.Fail(TSQLiteFaults::kStep, "DELETE FROM docheaders", 1, 1, SQLITE_IOERR);
    EXPECT_EQ(FBuffer->DeleteDoc({"A"}), 1001);
  }
  EXPECT_EQ(KeptAndChecked(), "items 3; s1=1/0");
}

TEST_F(DataBufferCountsTest, UnknownWhenTheCountFails) {
  ASSERT_EQ(FBuffer->SaveItems({Item("1")}, true), 0);
  {
    TSQLiteFaults faults;
    faults.Fail(TSQLiteFaults::kStep, "SELECT count(*) FROM items", 1, TSQLiteFaults::kForever, SQLITE_IOERR);
    EXPECT_EQ(FBuffer->SaveItems({Item("2")}), 1001);
    EXPECT_EQ(CountsText(FBuffer->Counts()), "unknown items 0;");
  }
  // The failed count rolled its load back; the next write counts again.
  ASSERT_EQ(FBuffer->SaveItems({Item("3")}), 0);
  EXPECT_EQ(KeptAndChecked(), "items 2;");
}

}  // namespace
}  // namespace dct
