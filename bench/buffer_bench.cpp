// Data buffer against the bare SQLite C interface, on files in a temporary folder.
//
//   Insert/*        100,000 item rows in one transaction: the layer as SaveItems drives it
//                   (one prepared statement; ClearParams, eleven named parameters, Execute
//                   per row), the layer with a fresh prepare per row (PrepareStatement +
//                   ExecQuery), and the floor: one sqlite3_stmt with positional binds, reused.
//   ReplaceAll/*    SaveItems(items, true) over a full catalogue vs DELETE + inserts +
//                   COMMIT + VACUUM by hand.
//   ReadItems/*     ReadItems of 100,000 rows vs stepping SELECT * into the same records.
//
// Compare the rows/s counters of a group within one run; the ratios are what matter.
#include <benchmark/benchmark.h>
#include <sqlite3.h>
#include <stdlib.h>

#include <filesystem>
#include <string>

#include "buffer/SQLiteTable3.h"
#include "buffer/uDataBuffer.h"
#include "support/TestSupport.h"

namespace dct {
namespace {

namespace fs = std::filesystem;

constexpr int kRows = 100000;

const char kInsertItem[] =
    "INSERT OR REPLACE INTO items (barcode, name, unit, additionaldata, series, quality, price, "
    "quantity, useserialnum, useweight, usefractvalue) VALUES (:barcode, :name, :unit, "
    ":additionaldata, :series, :quality, :price,  :quantity, :useserialnum, :useweight, "
    ":usefractvalue)";
const char kCreateItems[] =
    "CREATE TABLE IF NOT EXISTS items (barcode TEXT PRIMARY KEY, name TEXT, unit TEXT, "
    "additionaldata TEXT, series TEXT, quality TEXT, price INTEGER, quantity INTEGER, "
    "useserialnum INTEGER, useweight INTEGER, usefractvalue INTEGER)";

class TBenchFolder {
 public:
  std::string File(const std::string& name) const { return FDir.Path() + "/" + name; }
  const std::string& Path() const { return FDir.Path(); }

 private:
  dct::testing::TTempDir FDir{"dct_buffer_bench"};
};

TBenchFolder& Folder() {
  static TBenchFolder folder;
  return folder;
}

const TItemsArray& Items() {
  static const TItemsArray items = [] {
    TItemsArray list(kRows);
    for (int i = 0; i < kRows; ++i) {
      TItemRec& item = list[static_cast<size_t>(i)];
      // Distinct barcodes in scrambled order, as a real catalogue arrives.
      item.Barcode = std::to_string(4600000000000LL + (i * 7919LL) % 100003);
      item.Name = "Товар номер " + std::to_string(i) + " упаковка 1 кг";
      item.UnitName = "шт";
      item.AdditioanalData = "доп. " + std::to_string(i % 97);
      item.Series = "S" + std::to_string(i % 13);
      item.Quality = i % 2 ? "1 сорт" : "";
      item.Price = Currency{123456 + i};
      item.Quantity = (i % 1000) * 0.25;
      item.UseSerialNum = i % 3 == 0;
      item.UseWeight = i % 5 == 0;
      item.UseFractValue = i % 7 == 0;
    }
    return list;
  }();
  return items;
}

void BareExec(sqlite3* db, const char* sql) {
  if (sqlite3_exec(db, sql, nullptr, nullptr, nullptr) != SQLITE_OK) abort();
}

sqlite3* BareOpen(const std::string& file) {
  sqlite3* db = nullptr;
  if (sqlite3_open(file.c_str(), &db) != SQLITE_OK) abort();
  BareExec(db, kCreateItems);
  return db;
}

// The floor: one statement, positional binds, rows bound straight from the records.
void BareInsert(sqlite3* db, const TItemsArray& items) {
  sqlite3_stmt* stmt = nullptr;
  if (sqlite3_prepare_v2(db, kInsertItem, -1, &stmt, nullptr) != SQLITE_OK) abort();
  for (const TItemRec& item : items) {
    sqlite3_bind_text(stmt, 1, item.Barcode.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 2, item.Name.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 3, item.UnitName.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 4, item.AdditioanalData.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 5, item.Series.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(stmt, 6, item.Quality.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_int64(stmt, 7, PriceToHundredths(item.Price));
    sqlite3_bind_int64(stmt, 8, QuantityToThousandths(item.Quantity));
    sqlite3_bind_int64(stmt, 9, item.UseSerialNum);
    sqlite3_bind_int64(stmt, 10, item.UseWeight);
    sqlite3_bind_int64(stmt, 11, item.UseFractValue);
    if (sqlite3_step(stmt) != SQLITE_DONE) abort();
    sqlite3_reset(stmt);
  }
  sqlite3_finalize(stmt);
}

void SetRows(benchmark::State& state) {
  state.counters["rows/s"] =
      benchmark::Counter(static_cast<double>(kRows), benchmark::Counter::kIsIterationInvariantRate);
}

// ---- inserts into an empty table ----

void BM_Insert_Bare(benchmark::State& state) {
  const TItemsArray& items = Items();
  const std::string file = Folder().File("bare_insert.db");
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(file);
    sqlite3* db = BareOpen(file);
    state.ResumeTiming();
    BareExec(db, "BEGIN TRANSACTION");
    BareInsert(db, items);
    BareExec(db, "COMMIT");
    state.PauseTiming();
    sqlite3_close(db);
    state.ResumeTiming();
  }
  SetRows(state);
}

// The eleven named parameters of one item, collected as the buffer's save collects them.
void BindItem(TSQLitePreparedStatement& stmt, const TItemRec& item) {
  stmt.ClearParams();
  stmt.SetParamText(":barcode", item.Barcode);
  stmt.SetParamText(":name", item.Name);
  stmt.SetParamText(":unit", item.UnitName);
  stmt.SetParamText(":additionaldata", item.AdditioanalData);
  stmt.SetParamText(":series", item.Series);
  stmt.SetParamText(":quality", item.Quality);
  stmt.SetParamInt(":price", PriceToHundredths(item.Price));
  stmt.SetParamInt(":quantity", QuantityToThousandths(item.Quantity));
  stmt.SetParamInt(":useserialnum", item.UseSerialNum ? 1 : 0);
  stmt.SetParamInt(":useweight", item.UseWeight ? 1 : 0);
  stmt.SetParamInt(":usefractvalue", item.UseFractValue ? 1 : 0);
}

void BM_Insert_LayerReused(benchmark::State& state) {
  const TItemsArray& items = Items();
  const std::string file = Folder().File("layer_insert.db");
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(file);
    TSQLiteDatabase db(file);
    db.ExecSQL(kCreateItems);
    state.ResumeTiming();
    TSQLitePreparedStatement stmt(db);
    stmt.SetSQL(kInsertItem);
    db.BeginTransaction();
    stmt.PrepareStatement();
    for (const TItemRec& item : items) {
      BindItem(stmt, item);
      stmt.Execute();
    }
    db.Commit();
    state.PauseTiming();
    db.Close();
    state.ResumeTiming();
  }
  SetRows(state);
}

void BM_Insert_LayerPreparedPerRow(benchmark::State& state) {
  const TItemsArray& items = Items();
  const std::string file = Folder().File("layer_perrow.db");
  for (auto _ : state) {
    state.PauseTiming();
    fs::remove(file);
    TSQLiteDatabase db(file);
    db.ExecSQL(kCreateItems);
    state.ResumeTiming();
    TSQLitePreparedStatement stmt(db);
    stmt.SetSQL(kInsertItem);
    db.BeginTransaction();
    for (const TItemRec& item : items) {
      BindItem(stmt, item);
      stmt.PrepareStatement(stmt.SQL());
      stmt.ExecQuery();
    }
    db.Commit();
    state.PauseTiming();
    db.Close();
    state.ResumeTiming();
  }
  SetRows(state);
}

// ---- replacing a full catalogue ----

void BM_ReplaceAll_Bare(benchmark::State& state) {
  const TItemsArray& items = Items();
  const std::string file = Folder().File("bare_replace.db");
  fs::remove(file);
  sqlite3* db = BareOpen(file);
  BareExec(db, "BEGIN TRANSACTION");
  BareInsert(db, items);
  BareExec(db, "COMMIT");
  for (auto _ : state) {
    BareExec(db, "BEGIN TRANSACTION");
    BareExec(db, "DELETE FROM items");
    BareInsert(db, items);
    BareExec(db, "COMMIT");
    BareExec(db, "VACUUM");
  }
  sqlite3_close(db);
  SetRows(state);
}

void BM_ReplaceAll_SaveItems(benchmark::State& state) {
  const TItemsArray& items = Items();
  TDataBuffer buffer(Folder().File("buffer_replace"));
  if (buffer.Enable() != 0 || buffer.SaveItems(items) != 0) abort();
  for (auto _ : state) {
    if (buffer.SaveItems(items, true) != 0) state.SkipWithError(buffer.ResultDescription().c_str());
  }
  SetRows(state);
}

// ---- reading the catalogue ----

void BM_ReadItems_Bare(benchmark::State& state) {
  const std::string file = Folder().File("bare_read.db");
  fs::remove(file);
  sqlite3* db = BareOpen(file);
  BareExec(db, "BEGIN TRANSACTION");
  BareInsert(db, Items());
  BareExec(db, "COMMIT");
  auto text = [](sqlite3_stmt* s, int i) {
    const unsigned char* t = sqlite3_column_text(s, i);
    return t ? std::string(reinterpret_cast<const char*>(t), static_cast<size_t>(sqlite3_column_bytes(s, i)))
             : std::string();
  };
  for (auto _ : state) {
    TItemsArray items;
    BareExec(db, "BEGIN TRANSACTION");
    sqlite3_stmt* count = nullptr;
    sqlite3_prepare_v2(db, "SELECT count(*) FROM items", -1, &count, nullptr);
    sqlite3_step(count);
    items.reserve(static_cast<size_t>(sqlite3_column_int64(count, 0)));
    sqlite3_finalize(count);
    sqlite3_stmt* stmt = nullptr;
    sqlite3_prepare_v2(db, "SELECT * FROM items", -1, &stmt, nullptr);
    BareExec(db, "COMMIT");
    while (sqlite3_step(stmt) == SQLITE_ROW) {
      TItemRec& item = items.emplace_back();
      item.Barcode = text(stmt, 0);
      item.Name = text(stmt, 1);
      item.UnitName = text(stmt, 2);
      item.AdditioanalData = text(stmt, 3);
      item.Series = text(stmt, 4);
      item.Quality = text(stmt, 5);
      item.Price = Currency{sqlite3_column_int64(stmt, 6) * 100};
      item.Quantity = static_cast<double>(sqlite3_column_int64(stmt, 7)) / 1000;
      item.UseSerialNum = (sqlite3_column_int64(stmt, 8) & 0xFF) != 0;
      item.UseWeight = (sqlite3_column_int64(stmt, 9) & 0xFF) != 0;
      item.UseFractValue = (sqlite3_column_int64(stmt, 10) & 0xFF) != 0;
    }
    sqlite3_finalize(stmt);
    if (items.size() != static_cast<size_t>(kRows)) state.SkipWithError("rows missing");
    benchmark::DoNotOptimize(items.data());
  }
  sqlite3_close(db);
  SetRows(state);
}

void BM_ReadItems_Buffer(benchmark::State& state) {
  TDataBuffer buffer(Folder().File("buffer_read"));
  if (buffer.Enable() != 0 || buffer.SaveItems(Items()) != 0) abort();
  for (auto _ : state) {
    TItemsArray items;
    if (buffer.ReadItems(items) != 0 || items.size() != static_cast<size_t>(kRows))
      state.SkipWithError("ReadItems failed");
    benchmark::DoNotOptimize(items.data());
  }
  SetRows(state);
}

BENCHMARK(BM_Insert_Bare)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Insert_LayerReused)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_Insert_LayerPreparedPerRow)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReplaceAll_Bare)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReplaceAll_SaveItems)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadItems_Bare)->Unit(benchmark::kMillisecond)->UseRealTime();
BENCHMARK(BM_ReadItems_Buffer)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace
}  // namespace dct

int main(int argc, char** argv) {
  // The layer binds the same engine that the floor calls directly.
  if (!dct::LoadSQLiteLibrary("")) return 1;
  benchmark::Initialize(&argc, argv);
  if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}
