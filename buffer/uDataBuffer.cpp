#include "buffer/uDataBuffer.h"

#include <cfloat>
#include <cmath>
#include <filesystem>
#include <stdexcept>
#include <utility>
#include <vector>

#include "buffer/SQLiteTable3.h"
#include "buffer/uSQLText.h"
#include "device/uEquipmentErrors.h"
#include "support/BaseSecurity.h"
#include "support/uCommonUtils.h"

namespace dct {

namespace {

// The buffer's folder, two levels below the machine-wide folder.
constexpr const char kBufferFolderParent[] = "dct_korvelmobile";
constexpr const char kBufferFolderLeaf[] = "DataBuffer";
constexpr const char kNotOpen[] = "Data buffer is not open";

// The schema, run at every open in this order. Every statement is of the IF NOT EXISTS
// kind, so opening keeps whatever is stored, and never alters an existing table. The
// compaction that follows it is CompactAtOpen's.
constexpr const char* kSchema[] = {
    "CREATE TABLE IF NOT EXISTS items (barcode TEXT PRIMARY KEY, name TEXT, unit TEXT, "
    "additionaldata TEXT, series TEXT, quality TEXT, price INTEGER, quantity INTEGER, "
    "useserialnum INTEGER, useweight INTEGER, usefractvalue INTEGER)",
    "CREATE TABLE IF NOT EXISTS docheaders (id TEXT PRIMARY KEY, docsource INTEGER, doctype "
    "INTEGER, description TEXT)",
    "CREATE TABLE IF NOT EXISTS doctables (docid TEXT NOT NULL, barcode TEXT NOT NULL, quantity "
    "INTEGER, serialnum TEXT NOT NULL, FOREIGN KEY(docid) REFERENCES docheaders(id), PRIMARY KEY "
    "(docid, barcode, serialnum))",
    "CREATE INDEX IF NOT EXISTS docid on doctables (docid)",
};

// A replacing load compacts the file when the new catalogue is under 1/this of the old.
constexpr int64_t kCompactWhenShrunkTo = 2;

constexpr const char kInsertItem[] =
    "INSERT OR REPLACE INTO items (barcode, name, unit, additionaldata, series, quality, price, "
    "quantity, useserialnum, useweight, usefractvalue) VALUES (:barcode, :name, :unit, "
    ":additionaldata, :series, :quality, :price,  :quantity, :useserialnum, :useweight, "
    ":usefractvalue)";
constexpr const char kInsertHeader[] =
    "INSERT OR REPLACE INTO docheaders (id, docsource, doctype, description) VALUES (:id, "
    ":docsource, :doctype, :description)";
constexpr const char kInsertRow[] =
    "INSERT OR REPLACE INTO doctables (docid, barcode, quantity, serialnum) VALUES (:docid, "
    ":barcode, :quantity, :serialnum)";
constexpr const char kDeleteZeroRows[] = "DELETE FROM doctables WHERE (docid = ?) and (quantity = 0)";
constexpr const char kDeleteDocRows[] = "DELETE FROM doctables WHERE docid = ?";
constexpr const char kSelectItem[] = "SELECT * FROM items WHERE barcode = :barcode";
constexpr const char kSelectRow[] =
    "SELECT * FROM doctables WHERE (docid = :docid) and (barcode = :barcode) and (serialnum = "
    ":serialnum)";

// One explicit transaction. Whatever leaves the scope without Commit is rolled back, and a
// commit that fails is rolled back too, so the connection never stays in a transaction.
class TTransaction {
 public:
  explicit TTransaction(TSQLiteDatabase& db) : FDb(db) { FDb.BeginTransaction(); }
  ~TTransaction() { RollbackQuietly(); }
  TTransaction(const TTransaction&) = delete;
  TTransaction& operator=(const TTransaction&) = delete;

  void Commit() {
    try {
      FDb.Commit();
    } catch (...) {
      RollbackQuietly();
      throw;
    }
  }

 private:
  // The failure that brought us here is the one to report, not the rollback's.
  void RollbackQuietly() noexcept { FDb.EndTransaction(); }

  TSQLiteDatabase& FDb;
};

// First column of the first row; a failed step raises instead of reading as 0.
int64_t QueryValue(TSQLiteDatabase& db, const std::string& sql) {
  std::unique_ptr<TSQLiteUniTable> table = db.GetUniTable(sql);
  table->RaiseIfStepFailed();
  return table->Eof() ? 0 : table->Field(0).AsInteger();
}

// Every row of a query whose columns are all integers.
std::vector<std::vector<int64_t>> QueryRows(TSQLiteDatabase& db, const std::string& sql) {
  std::unique_ptr<TSQLiteUniTable> table = db.GetUniTable(sql);
  std::vector<std::vector<int64_t>> rows;
  for (; !table->Eof(); table->Next()) {
    std::vector<int64_t>& row = rows.emplace_back();
    for (unsigned i = 0; i < table->ColCount(); ++i)
      row.push_back(table->Field(static_cast<int>(i)).AsInteger());
  }
  table->RaiseIfStepFailed();
  return rows;
}

// Per source: the source, its documents and their rows; a GROUP BY and maybe a WHERE follow.
constexpr const char kCountSources[] =
    "SELECT h.docsource, count(DISTINCT h.id), count(t.docid) FROM docheaders h LEFT JOIN doctables t ON "
    "t.docid = h.id";

void AddToSource(TBufferCounts& counts, int64_t source, int64_t documents, int64_t rows) {
  TSourceCounts& c = counts.Sources[source];
  c.Documents += documents;
  c.Rows += rows;
  if (c.Documents <= 0) counts.Sources.erase(source);
}

// Counts travel as 32-bit integers: the low 32 bits.
int32_t Low32(int64_t value) { return static_cast<int32_t>(static_cast<uint32_t>(value)); }
uint8_t Low8(int64_t value) { return static_cast<uint8_t>(value & 0xFF); }

Currency HundredthsToPrice(int64_t hundredths) {
  int64_t count = 0;
  if (__builtin_mul_overflow(hundredths, Currency::kScale / 100, &count))
    throw std::range_error("Stored price out of range: " + std::to_string(hundredths));
  return Currency{count};
}

std::string SourceText(int source) { return std::to_string(source); }

// Whether a failed VACUUM of file ran out of disk: the engine says so as SQLITE_FULL, but a
// write the file system refuses for space (a quota, a full temporary folder) may come back as
// a plain I/O error, so one is taken for it when the folder has less free than VACUUM needs.
bool OutOfSpace(int code, const std::string& file) {
  if (code == SQLITE_FULL) return true;
  if (code != SQLITE_IOERR) return false;
  std::error_code error;
  const std::filesystem::path path{std::u8string(file.begin(), file.end())};
  const std::uintmax_t size = std::filesystem::file_size(path, error);
  if (error) return false;
  const std::filesystem::space_info space = std::filesystem::space(path.parent_path(), error);
  return !error && space.available / 2 < size;
}

// The columns of an items row, looked up once per cursor.
struct TItemFields {
  explicit TItemFields(TSQLiteUniTable& t)
      : Name(t.GetFieldByName("name")),
        Unit(t.GetFieldByName("unit")),
        AdditionalData(t.GetFieldByName("additionaldata")),
        Series(t.GetFieldByName("series")),
        Quality(t.GetFieldByName("quality")),
        Price(t.GetFieldByName("price")),
        Quantity(t.GetFieldByName("quantity")),
        UseSerialNum(t.GetFieldByName("useserialnum")),
        UseWeight(t.GetFieldByName("useweight")),
        UseFractValue(t.GetFieldByName("usefractvalue")) {}

  void Read(TItemRec& item) const {
    item.Name = Name.AsString();
    item.UnitName = Unit.AsString();
    item.AdditioanalData = AdditionalData.AsString();
    item.Series = Series.AsString();
    item.Quality = Quality.AsString();
    item.Price = HundredthsToPrice(Price.AsInteger());
    item.Quantity = static_cast<double>(Quantity.AsInteger()) / 1000;
    item.UseSerialNum = Low8(UseSerialNum.AsInteger()) != 0;
    item.UseWeight = Low8(UseWeight.AsInteger()) != 0;
    item.UseFractValue = Low8(UseFractValue.AsInteger()) != 0;
  }

  TSQLiteField &Name, &Unit, &AdditionalData, &Series, &Quality, &Price, &Quantity, &UseSerialNum, &UseWeight,
      &UseFractValue;
};

struct TRowFields {
  explicit TRowFields(TSQLiteUniTable& t)
      : Barcode(t.GetFieldByName("barcode")),
        Quantity(t.GetFieldByName("quantity")),
        SerialNum(t.GetFieldByName("serialnum")) {}

  TDocRow Read() const {
    return TDocRow{Barcode.AsString(), static_cast<double>(Quantity.AsInteger()) / 1000,
                   SerialNum.AsString()};
  }

  TSQLiteField &Barcode, &Quantity, &SerialNum;
};

}  // namespace

int64_t PriceToHundredths(Currency price) {
  return price.Count / (Currency::kScale / 100);  // integer division cuts toward zero
}

int64_t QuantityToThousandths(double quantity) {
  const double x = quantity * 1000;
  // 2^63: the first magnitude an int64 cannot hold.
  if (!std::isfinite(x) || std::fabs(x) >= 9223372036854775808.0)
    throw std::range_error("Quantity out of range: " + std::to_string(quantity));
  // A value that the decimal-to-binary step or the multiplication left a few units in the
  // last place off a whole thousandth is that thousandth (1.001 * 1000 = 1000.9999999999999).
  const double nearest = std::nearbyint(x);
  if (std::fabs(x - nearest) <= std::fabs(x) * 4 * DBL_EPSILON) return static_cast<int64_t>(nearest);
  return static_cast<int64_t>(std::trunc(x));
}

// ---- lifecycle ----

std::string BufferFolderBelow(const std::string& Root) {
  return Root + kBufferFolderParent + kPathDelimiter + kBufferFolderLeaf + kPathDelimiter;
}

TDataBuffer::TDataBuffer() {
  std::string base = GetSpecialFolderPath(CSIDL_COMMON_APPDATA);
  // Empty: no folder at all, Enable fails.
  if (!base.empty()) FDBPath = BufferFolderBelow(base);
  PrepareFolder();
}

TDataBuffer::TDataBuffer(const std::string& dbPath) : FDBPath(IncludeTrailingPathDelimiter(dbPath)) {
  PrepareFolder();
}

TDataBuffer::~TDataBuffer() { Disable(); }

void TDataBuffer::PrepareFolder() {
  if (FDBPath.empty()) return;
  try {
    if (ForceDirectories(FDBPath)) GrantFolderAccess(FDBPath);
  } catch (const std::exception&) {
    // The folder is used with whatever access it has; a missing one fails at Enable.
  }
}

std::string TDataBuffer::FileName() const { return FDBPath + FDBID + ".db"; }

bool TDataBuffer::IsOpen() const { return FBase != nullptr; }

int TDataBuffer::Enable() {
  Disable();
  FOpenWarning.clear();
  const std::string file = FileName();
  try {
    if (FDBPath.empty()) throw ESQLiteException("Failed to open database \"" + file + "\" : no data folder");
    // The identifier comes from a client: it names a file in the folder, never a path.
    if (FDBID.find_first_of(kNotInFileName) != std::string::npos || FDBID.find('\0') != std::string::npos)
      throw ESQLiteException("Failed to open database in \"" + FDBPath + "\" : invalid database identifier");
    FBase = std::make_unique<TSQLiteDatabase>(file, seUTF8);
    SQLite.sqlite3_busy_timeout(FBase->DB(), static_cast<int>(FLockWait.count()));
    for (const char* statement : kSchema) FBase->ExecSQL(statement);
    CompactAtOpen();
    Recount();
  } catch (const std::exception& e) {
    // A connection on a file that is locked or not a database is of no use: closed here,
    // so the buffer is open exactly when Enable succeeded.
    Disable();
    FResultDescription = e.what();
    return rcUnknownError;
  }
  try {
    GrantFileAccess(file);  // the journal then inherits the folder's default ACL
  } catch (const std::exception&) {
    // As with the folder: the file stays usable by the service itself.
  }
  return rcOK;
}

void TDataBuffer::CompactAtOpen() {
  try {
    FBase->ExecSQL("VACUUM");
  } catch (const ESQLiteException& e) {
    // Only the primary code: the layer does not ask for extended ones.
    if (!OutOfSpace(SQLite.sqlite3_errcode(FBase->DB()) & 0xFF, FileName())) throw;
    // VACUUM is all or nothing, so the file is as it was: the buffer works on, uncompacted.
    FOpenWarning = "The data buffer \"" + FileName() +
                   "\" was not compacted: the disk has too little free space (" + e.what() +
                   "). The service works on; free disk space so that the next start compacts it.";
  }
}

void TDataBuffer::Disable() {
  FReadItem.reset();  // a statement must not outlive its connection
  if (!FBase) return;
  FBase->Close();
  FBase.reset();
  UpdateCounts([](TBufferCounts& counts) { counts = TBufferCounts{}; });
}

TBufferCounts TDataBuffer::Counts() const {
  std::lock_guard<std::mutex> guard(FCountsLock);
  return FCounts;
}

template <typename F>
void TDataBuffer::UpdateCounts(F&& change) {
  {
    std::lock_guard<std::mutex> guard(FCountsLock);
    if (FCounts.Known || !FCounts.Open) {
      change(FCounts);
      return;
    }
  }
  Recount();  // a change to counts not known is still not known: count them all
}

void TDataBuffer::Recount() noexcept {
  TBufferCounts counts;
  try {
    if (FBase) {
      counts.Open = true;
      counts.FileName = FileName();
      counts.Items = QueryValue(*FBase, "SELECT count(*) FROM items");
      for (const std::vector<int64_t>& r :
           QueryRows(*FBase, std::string(kCountSources) + " GROUP BY h.docsource"))
        AddToSource(counts, r[0], r[1], r[2]);
      counts.Known = true;
    }
  } catch (...) {
    counts.Known = false;  // shown as unknown until the next write or open counts again
  }
  std::lock_guard<std::mutex> guard(FCountsLock);
  FCounts = std::move(counts);
}

template <typename F>
int TDataBuffer::Guarded(F&& body) {
  try {
    if (!FBase) throw ESQLiteException(kNotOpen);
    return body(*FBase);
  } catch (const std::exception& e) {
    FResultDescription = e.what();
  } catch (...) {
    FResultDescription = "Unknown error";
  }
  return rcUnknownError;
}

// ---- items ----

template <typename F>
int TDataBuffer::StoreItems(size_t Count, F&& Next, bool ReplaceAll) {
  // A load may leave part of what it stored (adding mode), so a failed one counts anew.
  const int rc = Guarded([&](TSQLiteDatabase& db) {
    TSQLitePreparedStatement insert(db);
    insert.SetSQL(kInsertItem);
    TTransaction transaction(db);
    // Clearing shares the transaction with the inserts: a load that fails keeps the old
    // catalogue whole.
    int64_t replaced = 0;
    if (ReplaceAll) {
      replaced = QueryValue(db, "SELECT count(*) FROM items");
      db.ExecSQL("DELETE FROM items");
    }
    try {
      insert.PrepareStatement();  // once; every item rebinds the same statement
      for (size_t i = 0; i < Count; ++i) {
        const TItemRec& item = Next(i);
        insert.ClearParams();
        insert.SetParamText(":barcode", item.Barcode);
        insert.SetParamText(":name", item.Name);
        insert.SetParamText(":unit", item.UnitName);
        insert.SetParamText(":additionaldata", item.AdditioanalData);
        insert.SetParamText(":series", item.Series);
        insert.SetParamText(":quality", item.Quality);
        insert.SetParamInt(":price", PriceToHundredths(item.Price));
        insert.SetParamInt(":quantity", QuantityToThousandths(item.Quantity));
        insert.SetParamInt(":useserialnum", item.UseSerialNum ? 1 : 0);
        insert.SetParamInt(":useweight", item.UseWeight ? 1 : 0);
        insert.SetParamInt(":usefractvalue", item.UseFractValue ? 1 : 0);
        insert.Execute();
      }
    } catch (...) {
      // Adding to the catalogue keeps the items stored before the failure; the result is
      // still 1001, with the failure's own message.
      if (!ReplaceAll) {
        try {
          transaction.Commit();
        } catch (...) {
        }
      }
      throw;
    }
    // Barcodes repeat within a load and across loads, so the stored number is counted.
    const int64_t items = QueryValue(db, "SELECT count(*) FROM items");
    transaction.Commit();
    UpdateCounts([&](TBufferCounts& counts) { counts.Items = items; });
    // The inserts reuse the pages that the delete freed, so the file only holds much free
    // space when the catalogue shrank; compacting a full catalogue would rewrite the whole
    // file for nothing.
    if (ReplaceAll && static_cast<int64_t>(Count) * kCompactWhenShrunkTo < replaced) {
      try {
        db.ExecSQL("VACUUM");
      } catch (const ESQLiteException&) {
        // Compaction only: the catalogue is stored, and the next open compacts again.
      }
    }
    return rcOK;
  });
  if (rc != rcOK) Recount();
  return rc;
}

int TDataBuffer::SaveItems(const TItemsArray& Items, bool ReplaceAll) {
  return StoreItems(
      Items.size(), [&](size_t i) -> const TItemRec& { return Items[i]; }, ReplaceAll);
}

int TDataBuffer::SaveItems(size_t Count, const TItemSource& Read, bool ReplaceAll) {
  TItemRec item;
  return StoreItems(
      Count,
      [&](size_t i) -> const TItemRec& {
        Read(i, item);
        return item;
      },
      ReplaceAll);
}

int TDataBuffer::ReadItems(TItemsArray& Items) {
  Items.clear();
  const int rc = ReadItems([&](size_t n) { Items.reserve(n); },
                           [&](TItemRec& item) { Items.push_back(std::move(item)); });
  if (rc != rcOK) Items.clear();
  return rc;
}

int TDataBuffer::ReadItems(const std::function<void(size_t Count)>& Begin, const TItemSink& Take) {
  return Guarded([&](TSQLiteDatabase& db) {
    TTransaction transaction(db);
    int64_t n = QueryValue(db, "SELECT count(*) FROM items");
    if (n <= 0) {
      transaction.Commit();
      return rcItemNotFound;
    }
    std::unique_ptr<TSQLiteUniTable> table = db.GetUniTable("SELECT * FROM items");
    transaction.Commit();  // the cursor keeps its own read position
    Begin(static_cast<size_t>(n));
    TSQLiteField& barcode = table->GetFieldByName("barcode");
    TItemFields fields(*table);
    TItemRec item;
    int64_t given = 0;
    for (; !table->Eof() && given < n; table->Next(), ++given) {
      item.Barcode = barcode.AsString();
      fields.Read(item);
      Take(item);
    }
    table->RaiseIfStepFailed();
    // The count and the rows come from one read snapshot; a mismatch is a fault, and the
    // caller must not be left with a table it sized for rows that never came.
    if (given != n || !table->Eof()) throw std::runtime_error("The catalogue changed while it was read");
    return rcOK;
  });
}

int TDataBuffer::ReadItem(const std::string& Barcode, TItemRec& Item) {
  Item = TItemRec{};
  int rc = Guarded([&](TSQLiteDatabase& db) {
    if (!FReadItem) {
      auto lookup = std::make_unique<TSQLitePreparedStatement>(db);
      lookup->SetSQL(kSelectItem);
      lookup->PrepareStatement();
      FReadItem = std::move(lookup);
    }
    FReadItem->ClearParams();
    FReadItem->SetParamText(":barcode", Barcode);  // bound: the barcode is only ever text
    std::unique_ptr<TSQLiteUniTable> table = FReadItem->ExecQueryKeeping();
    table->RaiseIfStepFailed();
    if (table->Eof()) return rcItemNotFound;
    Item.Barcode = Barcode;
    TItemFields(*table).Read(Item);
    return rcOK;
  });
  if (rc != rcOK) Item = TItemRec{};
  return rc;
}

int TDataBuffer::ClearItems() {
  const int rc = Guarded([&](TSQLiteDatabase& db) {
    db.ExecSQL("DELETE FROM items");
    UpdateCounts([](TBufferCounts& counts) { counts.Items = 0; });
    db.ExecSQL("VACUUM");
    return rcOK;
  });
  if (rc != rcOK) Recount();
  return rc;
}

int TDataBuffer::GetItemsCount(int32_t& ItemsCount) {
  return Guarded([&](TSQLiteDatabase& db) {
    ItemsCount = Low32(QueryValue(db, "SELECT count(*) FROM items"));
    return rcOK;
  });
}

// ---- documents ----

int TDataBuffer::SaveDoc(const TDocument& Doc, bool ReplaceAll) {
  const int rc = Guarded([&](TSQLiteDatabase& db) {
    TSQLitePreparedStatement header(db);
    header.SetSQL(kInsertHeader);
    header.ClearParams();
    header.SetParamText(":id", Doc.DocumentID);
    header.SetParamInt(":docsource", Doc.Source);
    header.SetParamInt(":doctype", Doc.DocumentType);
    header.SetParamText(":description", Doc.Description);
    header.PrepareStatement();

    // One transaction for the header, the rows and the zero-quantity clean-up: a push that
    // fails leaves the stored document as it was.
    TTransaction transaction(db);
    // The document's source and rows before and after, by key and by the docid index.
    const std::string id = SQLTextLiteral(Doc.DocumentID);
    const std::string countRows = "SELECT count(*) FROM doctables WHERE docid = " + id;
    const std::vector<std::vector<int64_t>> before =
        QueryRows(db, "SELECT docsource, (" + countRows + ") FROM docheaders WHERE id = " + id);
    if (ReplaceAll) db.ExecSQL(kDeleteDocRows, {Doc.DocumentID});
    header.Execute();
    TSQLitePreparedStatement rows(db);
    rows.SetSQL(kInsertRow);
    rows.PrepareStatement();
    for (const TDocRow& row : Doc.Rows) {
      rows.ClearParams();
      rows.SetParamText(":docid", Doc.DocumentID);
      rows.SetParamText(":barcode", row.Barcode);
      rows.SetParamInt(":quantity", QuantityToThousandths(row.Quantity));
      rows.SetParamText(":serialnum", row.SerialNum);
      rows.Execute();
    }
    db.ExecSQL(kDeleteZeroRows, {Doc.DocumentID});
    const int64_t rowsAfter = QueryValue(db, countRows);
    transaction.Commit();
    UpdateCounts([&](TBufferCounts& counts) {
      if (!before.empty()) AddToSource(counts, before[0][0], -1, -before[0][1]);
      AddToSource(counts, Doc.Source, 1, rowsAfter);
    });
    return rcOK;
  });
  if (rc != rcOK) Recount();
  return rc;
}

int TDataBuffer::ReadDoc(const TStringArray& Ids, TDocument& Doc) {
  Doc = TDocument{};
  int rc = Guarded([&](TSQLiteDatabase& db) {
    const std::string list = StringArrayToSQLList(Ids);
    TTransaction transaction(db);
    {
      std::unique_ptr<TSQLiteUniTable> header =
          db.GetUniTable("SELECT * FROM docheaders WHERE id IN (" + list + ")");
      header->RaiseIfStepFailed();
      if (header->Eof()) {
        header.reset();
        transaction.Commit();
        return rcDocNotFound;
      }
      // From whichever header comes first; the identifier stays empty.
      Doc.DocumentType = Low8(header->GetFieldByName("doctype").AsInteger());
      Doc.Source = Low8(header->GetFieldByName("docsource").AsInteger());
      Doc.Description = header->GetFieldByName("description").AsString();
    }
    int64_t n = QueryValue(db, "SELECT count(*) FROM doctables WHERE docid IN (" + list + ")");
    if (n > 0) Doc.Rows.reserve(static_cast<size_t>(n));
    std::unique_ptr<TSQLiteUniTable> table =
        db.GetUniTable("SELECT * FROM doctables WHERE docid IN (" + list + ")");
    transaction.Commit();
    TRowFields fields(*table);
    for (; !table->Eof(); table->Next()) Doc.Rows.push_back(fields.Read());
    table->RaiseIfStepFailed();
    return rcOK;
  });
  if (rc != rcOK) Doc = TDocument{};
  return rc;
}

int TDataBuffer::ReadDocs(int DocSource, TDocuments& Docs) {
  Docs.clear();
  int rc = Guarded([&](TSQLiteDatabase& db) {
    const std::string source = SourceText(DocSource);
    TTransaction transaction(db);
    int64_t n = QueryValue(db, "SELECT count(*) FROM docheaders WHERE docsource = " + source);
    if (n <= 0) {
      transaction.Commit();
      return rcOK;
    }
    Docs.reserve(static_cast<size_t>(n));
    std::unique_ptr<TSQLiteUniTable> table = db.GetUniTable(
        "SELECT * FROM doctables INNER JOIN docheaders ON  doctables.docid = docheaders.id WHERE "
        "docheaders.docsource = " +
        source + " ORDER BY docid");
    transaction.Commit();
    TSQLiteField& docid = table->GetFieldByName("docid");
    TSQLiteField& doctype = table->GetFieldByName("doctype");
    TSQLiteField& description = table->GetFieldByName("description");
    TRowFields fields(*table);
    // Rows come grouped by docid; each group is one document. A header without rows gives
    // no document at all (no empty entry is left behind for it).
    for (; !table->Eof(); table->Next()) {
      std::string id = docid.AsString();
      if (Docs.empty() || id != Docs.back().DocumentID) {
        TDocument& doc = Docs.emplace_back();
        doc.DocumentID = std::move(id);
        doc.DocumentType = Low8(doctype.AsInteger());
        doc.Description = description.AsString();
      }
      Docs.back().Rows.push_back(fields.Read());
    }
    table->RaiseIfStepFailed();
    return rcOK;
  });
  if (rc != rcOK) Docs.clear();
  return rc;
}

int TDataBuffer::ReadDocsHeaders(int DocSource, TDocuments& Docs) {
  Docs.clear();
  int rc = Guarded([&](TSQLiteDatabase& db) {
    const std::string source = SourceText(DocSource);
    TTransaction transaction(db);
    int64_t n = QueryValue(db, "SELECT count(*) FROM docheaders WHERE docsource = " + source);
    if (n <= 0) {
      transaction.Commit();
      return rcNoDocs;
    }
    Docs.reserve(static_cast<size_t>(n));
    std::unique_ptr<TSQLiteUniTable> table =
        db.GetUniTable("SELECT * FROM docheaders WHERE docsource = " + source + " ORDER BY id");
    transaction.Commit();
    TSQLiteField& id = table->GetFieldByName("id");
    TSQLiteField& doctype = table->GetFieldByName("doctype");
    TSQLiteField& description = table->GetFieldByName("description");
    for (; !table->Eof(); table->Next()) {
      TDocument& doc = Docs.emplace_back();  // Source stays 0 and Rows empty
      doc.DocumentID = id.AsString();
      doc.DocumentType = Low8(doctype.AsInteger());
      doc.Description = description.AsString();
    }
    table->RaiseIfStepFailed();
    return rcOK;
  });
  if (rc != rcOK) Docs.clear();
  return rc;
}

int TDataBuffer::ReadDocRow(const std::string& DocumentID, const std::string& Barcode,
                            const std::string& SerialNum, TDocRow& DocRow) {
  DocRow = TDocRow{};
  int rc = Guarded([&](TSQLiteDatabase& db) {
    std::unique_ptr<TSQLitePreparedStatement> stmt = db.GetPreparedStatement(kSelectRow);
    stmt->ClearParams();
    stmt->SetParamText(":docid", DocumentID);
    stmt->SetParamText(":barcode", Barcode);
    stmt->SetParamText(":serialnum", SerialNum);
    std::unique_ptr<TSQLiteUniTable> table = stmt->ExecQuery();
    table->RaiseIfStepFailed();
    if (table->Eof()) return rcItemNotFound;
    DocRow.Barcode = Barcode;
    DocRow.SerialNum = SerialNum;
    DocRow.Quantity = static_cast<double>(table->GetFieldByName("quantity").AsInteger()) / 1000;
    return rcOK;
  });
  if (rc != rcOK) DocRow = TDocRow{};
  return rc;
}

int TDataBuffer::DeleteDoc(const TStringArray& Ids) {
  const int rc = Guarded([&](TSQLiteDatabase& db) {
    const std::string list = StringArrayToSQLList(Ids);
    const std::vector<std::vector<int64_t>> gone =
        QueryRows(db, std::string(kCountSources) + " WHERE h.id IN (" + list + ") GROUP BY h.docsource");
    db.ExecSQL("DELETE FROM doctables WHERE docid IN (" + list + ")");
    db.ExecSQL("DELETE FROM docheaders WHERE id IN (" + list + ")");
    UpdateCounts([&](TBufferCounts& counts) {
      for (const std::vector<int64_t>& r : gone) AddToSource(counts, r[0], -r[1], -r[2]);
    });
    return rcOK;
  });
  if (rc != rcOK) Recount();
  return rc;
}

int TDataBuffer::ClearDocs(int DocSource) {
  const int rc = Guarded([&](TSQLiteDatabase& db) {
    if (DocSource < 0) {
      db.ExecSQL("DELETE FROM doctables");
      db.ExecSQL("DELETE FROM docheaders");
    } else {
      const std::string source = SourceText(DocSource);
      db.ExecSQL("DELETE FROM doctables WHERE docid IN (SELECT id FROM docheaders WHERE docsource = " +
                 source + ")");
      db.ExecSQL("DELETE FROM docheaders WHERE docsource = " + source);
    }
    UpdateCounts([&](TBufferCounts& counts) {
      if (DocSource < 0)
        counts.Sources.clear();
      else
        counts.Sources.erase(DocSource);
    });
    db.ExecSQL("VACUUM");
    return rcOK;
  });
  if (rc != rcOK) Recount();
  return rc;
}

int TDataBuffer::GetDocsCount(int DocSource, int32_t& DocsCount) {
  return Guarded([&](TSQLiteDatabase& db) {
    DocsCount =
        Low32(QueryValue(db, "SELECT count(*) FROM docheaders WHERE docsource = " + SourceText(DocSource)));
    return rcOK;
  });
}

int TDataBuffer::GetDocRowsCount(const std::string& DocumentID, int32_t& RowsCount) {
  return Guarded([&](TSQLiteDatabase& db) {
    RowsCount =
        Low32(QueryValue(db, "SELECT count(*) FROM doctables WHERE docid = " + SQLTextLiteral(DocumentID)));
    return rcOK;
  });
}

}  // namespace dct
