// For the data buffer's tests only: a buffer enabled in a fresh temporary folder with the
// system's engine bound, and the records the tests build it from.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <memory>
#include <sstream>
#include <string>
#include <tuple>
#include <vector>

#include "buffer/SQLite3.h"
#include "buffer/SQLiteTable3.h"
#include "buffer/uDataBuffer.h"
#include "support/TestSupport.h"

namespace dct::testing {

inline TItemRec Item(const std::string& barcode, const std::string& name = "n", int64_t priceCount = 0,
                     double quantity = 0) {
  TItemRec item;
  item.Barcode = barcode;
  item.Name = name;
  item.Price = Currency{priceCount};
  item.Quantity = quantity;
  return item;
}

inline TDocument Doc(const std::string& id, uint8_t source, TDocRows rows = {}, uint8_t type = 3,
                     const std::string& description = "d") {
  TDocument doc;
  doc.DocumentID = id;
  doc.Source = source;
  doc.DocumentType = type;
  doc.Description = description;
  doc.Rows = std::move(rows);
  return doc;
}

// "barcode:quantity/serial" for every row, in order: compact to compare.
inline std::string RowsText(const TDocRows& rows) {
  std::string out;
  for (const TDocRow& r : rows) {
    if (!out.empty()) out += " ";
    std::ostringstream q;
    q << r.Quantity;
    out += r.Barcode + ":" + q.str() + (r.SerialNum.empty() ? "" : "/" + r.SerialNum);
  }
  return out;
}

class TDataBufferFixture : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(LoadSQLiteLibrary(""));
    FBuffer = std::make_unique<TDataBuffer>(FTemp.Path() + "/buf");
    ASSERT_EQ(FBuffer->Enable(), 0) << FBuffer->ResultDescription();
  }

  // A second connection to the buffer's file, for looking behind the buffer's back.
  int64_t Value(const std::string& sql) {
    TSQLiteDatabase db(FBuffer->FileName());
    return db.GetTableValue(sql);
  }
  void Exec(const std::string& sql) {
    TSQLiteDatabase db(FBuffer->FileName());
    db.ExecSQL(sql);
  }

  std::string ItemNames() {
    TItemsArray items;
    FBuffer->ReadItems(items);
    std::vector<std::string> names;
    for (const TItemRec& i : items) names.push_back(i.Barcode + "=" + i.Name);
    std::sort(names.begin(), names.end());  // no order is asked of the engine
    std::string out;
    for (const std::string& n : names) out += (out.empty() ? "" : " ") + n;
    return out;
  }

  std::string DocText(const std::string& id) {
    TDocument doc;
    int rc = FBuffer->ReadDoc({id}, doc);
    if (rc != 0) return "rc " + std::to_string(rc);
    std::sort(doc.Rows.begin(), doc.Rows.end(), [](const TDocRow& a, const TDocRow& b) {
      return std::tie(a.Barcode, a.SerialNum) < std::tie(b.Barcode, b.SerialNum);
    });
    return doc.Description + " [" + RowsText(doc.Rows) + "]";
  }

  TTempDir FTemp;
  std::unique_ptr<TDataBuffer> FBuffer;
};

}  // namespace dct::testing
