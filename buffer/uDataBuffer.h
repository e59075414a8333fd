// TDataBuffer: a device's store of catalogue items and documents in one SQLite file,
// <FDBPath><DBID>.db, FDBPath being <machine-wide data>/dct_korvelmobile/DataBuffer/ (with
// kPathDelimiter).
//
// Every operation returns a result code: 0, a not-found code (6501 item, 6502 document,
// 6507 no headers), or 1001 with ResultDescription set to the failure's message (the SQLite
// layer's formats). ResultDescription is written only on 1001 and never cleared. An
// operation called while no connection is open ends with 1001.
//
// Stored units: prices in hundredths, quantities in thousandths, both cut toward zero;
// flags as 0/1, read back by their low 8 bits.
//
// Lock waits: the connection waits up to LockWait (kLockWait unless set) for a lock that
// another process holds (a backup, an operator's reader) before an operation fails with 1001
// "The database file is locked"; with the rollback journal a commit needs every reader gone.
//
// Thread safety: none of its own. Operations run inside commands under CommandLock;
// Enable and Disable run on the service-control thread (the device holds CommandLock
// around Disable). The one exception is Counts, which any thread may call at any time.
//
// Counts: the number of items, and of documents and their rows per source, are kept by the
// buffer's own writes and published under a lock of their own, so that reading them (the
// status page) runs no query and never waits for CommandLock. Enable counts once; each write
// then adjusts them from what it touched (a document push counts that document's rows, by
// the docid index), except an item load, which counts the items again inside its own
// transaction (one pass over the barcode index, a fraction of the load's inserts). A write
// that fails counts everything again.
//
// In one call: called by the command handlers of TDevice; calls the SQLite layer
// (SQLiteTable3).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>

#include "device/uDeviceCommon.h"

namespace dct {

class TSQLiteDatabase;
class TSQLitePreparedStatement;

// How long an operation waits for another process's lock. A backup holds its read lock for
// one copy of the file (well under a second per 100 MB from the page cache); ten seconds
// covers that for any buffer this service keeps while a client still gets its answer.
constexpr std::chrono::milliseconds kLockWait{10000};

// The buffer folder below a data root: <Root>dct_korvelmobile<delimiter>DataBuffer<delimiter>
// (Root ends with a delimiter).
std::string BufferFolderBelow(const std::string& Root);

// What one document source holds: documents (headers) and the rows of those documents.
struct TSourceCounts {
  int64_t Documents = 0;
  int64_t Rows = 0;
};

struct TBufferCounts {
  bool Open = false;     // whether the figures below describe an open database
  bool Known = false;    // false after a count failed: the figures are not to be trusted
  std::string FileName;  // the database file, empty while closed
  int64_t Items = 0;
  std::map<int64_t, TSourceCounts> Sources;  // sources holding at least one document
};

class TDataBuffer {
 public:
  // Folder below GetSpecialFolderPath(35), created and granted; failures are ignored.
  TDataBuffer();
  // For tests: the database folder given directly (a trailing delimiter is added if missing).
  explicit TDataBuffer(const std::string& dbPath);
  ~TDataBuffer();
  TDataBuffer(const TDataBuffer&) = delete;
  TDataBuffer& operator=(const TDataBuffer&) = delete;

  // Opens <FDBPath><DBID>.db (creating it), runs the schema statements, compacts the file
  // (VACUUM) and opens the file to every user. 0 or 1001; after 1001 no connection is kept.
  // A DBID holding a character of kNotInFileName or a NUL is refused (1001): it names a file
  // in the folder, never a path. A compaction that fails for want of disk space (it needs up
  // to twice the file free) does not fail the open: the file is left as it was and
  // OpenWarning says why, for the host to report once.
  int Enable();
  // Set by an Enable that succeeded without compacting (see Enable); empty otherwise.
  const std::string& OpenWarning() const { return FOpenWarning; }
  // Closes the connection (rolling back an open transaction); nothing when closed.
  void Disable();
  bool IsOpen() const;

  const std::string& DBID() const { return FDBID; }
  void SetDBID(const std::string& id) { FDBID = id; }  // takes effect at the next Enable
  const std::string& DBPath() const { return FDBPath; }
  std::string FileName() const;
  const std::string& ResultDescription() const { return FResultDescription; }
  // Takes effect at the next Enable.
  void SetLockWait(std::chrono::milliseconds Wait) { FLockWait = Wait; }

  // Items.
  // ReplaceAll empties the catalogue in the same transaction, so a failed load leaves the
  // old catalogue whole; VACUUM runs after the commit.
  int SaveItems(const TItemsArray& Items, bool ReplaceAll = false);
  int ReadItems(TItemsArray& Items);

  // The same, one item at a time, so that a million-item catalogue is never held as
  // records beside the value it comes from or goes to.
  // SaveItems: Read(i, Item) fills Item with item i of Count, in order; Item still holds
  // the item before, so its buffers are reused. What Read raises fails the call like a
  // failed insert (1001).
  using TItemSource = std::function<void(size_t Index, TItemRec& Item)>;
  int SaveItems(size_t Count, const TItemSource& Read, bool ReplaceAll = false);
  // ReadItems: Begin(n) with the number of stored items, then Take(Item) for each of them
  // in the stored order; Take may move Item's texts away. No call at all when nothing is
  // stored (6501). Exactly n items are given, or the result is 1001.
  using TItemSink = std::function<void(TItemRec& Item)>;
  int ReadItems(const std::function<void(size_t Count)>& Begin, const TItemSink& Take);
  int ReadItem(const std::string& Barcode, TItemRec& Item);
  int ClearItems();
  int GetItemsCount(int32_t& ItemsCount);

  // Documents.
  // Merges the rows into what is stored; ReplaceAll first drops the document's stored rows,
  // in the same transaction, so a failed replace leaves the old document whole.
  int SaveDoc(const TDocument& Doc, bool ReplaceAll = false);
  int ReadDoc(const TStringArray& Ids, TDocument& Doc);
  int ReadDocs(int DocSource, TDocuments& Docs);
  int ReadDocsHeaders(int DocSource, TDocuments& Docs);
  int ReadDocRow(const std::string& DocumentID, const std::string& Barcode, const std::string& SerialNum,
                 TDocRow& DocRow);
  int DeleteDoc(const TStringArray& Ids);
  int ClearDocs(int DocSource);  // negative: every source
  int GetDocsCount(int DocSource, int32_t& DocsCount);
  int GetDocRowsCount(const std::string& DocumentID, int32_t& RowsCount);

  // The kept counts (see above). Safe on any thread.
  TBufferCounts Counts() const;

 private:
  // Counts everything anew and publishes it; a failure leaves the counts marked unknown.
  void Recount() noexcept;
  // Publishes a change, under the counts lock.
  template <typename F>
  void UpdateCounts(F&& change);

  // The VACUUM of Enable; raises unless it failed for want of space (see Enable).
  void CompactAtOpen();
  // Creates FDBPath and opens it to every user; failures are ignored.
  void PrepareFolder();
  // Runs body(connection) and turns every exception into 1001 with its message; 1001 too
  // when no connection is open.
  template <typename F>
  int Guarded(F&& body);
  // Both SaveItems: Next(i) gives item i of Count.
  template <typename F>
  int StoreItems(size_t Count, F&& Next, bool ReplaceAll);

  std::string FDBPath;
  std::string FDBID = "0";
  std::chrono::milliseconds FLockWait = kLockWait;
  std::unique_ptr<TSQLiteDatabase> FBase;
  // The barcode look-up, prepared once per open connection: terminals ask for items one at
  // a time, and preparing is most of the cost of each look-up. Freed before FBase closes.
  std::unique_ptr<TSQLitePreparedStatement> FReadItem;
  std::string FResultDescription;
  std::string FOpenWarning;

  mutable std::mutex FCountsLock;  // guards FCounts only; held just to copy or change it
  TBufferCounts FCounts;
};

// Storage conversions, cut toward zero; a value a hair below a whole unit counts as it.
int64_t PriceToHundredths(Currency price);
int64_t QuantityToThousandths(double quantity);

}  // namespace dct
