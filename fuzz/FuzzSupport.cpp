#include "fuzz/FuzzSupport.h"

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <mutex>
#include <pugixml.hpp>
#include <random>
#include <stdexcept>
#include <string>
#include <utility>

#include "buffer/SQLite3.h"
#include "device/uDevice.h"
#include "service/uSvcImpl.h"
#include "support/uCommonUtils.h"
#include "values/uUTF8.h"
#include "values/uXMLEncoder.h"

namespace dct::fuzz {

namespace {
std::string GRoot;  // TFuzzService's folder, removed by a failed check too
}  // namespace

void Fail(const char* what, std::string_view detail) {
  std::fprintf(stderr, "fuzz check failed: %s\n", what);
  if (!detail.empty()) {
    // Enough to see the fault; the whole input is the reproducer.
    constexpr size_t kShown = 2000;
    std::fprintf(stderr, "  %.*s%s\n", static_cast<int>(std::min(detail.size(), kShown)), detail.data(),
                 detail.size() > kShown ? " ..." : "");
  }
  if (!GRoot.empty()) {
    std::error_code ignored;
    std::filesystem::remove_all(GRoot, ignored);
  }
  std::abort();
}

namespace {

// The checks of CheckXMLDocument, leaving the tree in doc.
void ParseXMLDocument(std::string_view text, pugi::xml_document& doc) {
  const size_t good = XMLCharsPrefix(text);
  DCT_FUZZ_CHECK(good == text.size(), text.substr(good > 40 ? good - 40 : 0, 80));
  const pugi::xml_parse_result parsed =
      doc.load_buffer(text.data(), text.size(), pugi::parse_default, pugi::encoding_utf8);
  DCT_FUZZ_CHECK(parsed, text);
  DCT_FUZZ_CHECK(doc.document_element(), text);
}

}  // namespace

void CheckXMLDocument(std::string_view text) {
  pugi::xml_document doc;
  ParseXMLDocument(text, doc);
}

void CheckSOAPAnswer(const TWebResponse& answer) {
  DCT_FUZZ_CHECK(answer.Status == 200 || answer.Status == 500, answer.Body);
  pugi::xml_document doc;
  ParseXMLDocument(answer.Body, doc);
  const pugi::xml_node output = doc.first_element_by_path(
      "SOAP-ENV:Envelope/SOAP-ENV:Body/NS1:ExecuteCommandResponse/OutputParameters");
  if (!output) return;
  // What a command answers is value text, and the terminal reads it back.
  const std::string_view text = output.text().get();
  try {
    TXMLEncoder().Decode(text);
  } catch (const std::exception&) {
    Fail("the value reader refuses the OutputParameters of an answer", text);
  }
}

namespace {

// A listener switch that never listens: the fuzz targets call the service directly.
class TNoListener : public IListenerSwitch {
 public:
  bool Listening() const override { return false; }
  void Start() override {}
  void Stop() override {}
};

TNoListener GNoListener;

// The buffer's connection keeps its journal in memory and never waits for the disk:
// durability is not what these targets test. It is noted here too, so that Reset can tell
// from its count of changed rows whether an input wrote anything.
decltype(SQLite.sqlite3_open) GEngineOpen = nullptr;
decltype(SQLite.sqlite3_open16) GEngineOpen16 = nullptr;
sqlite3* GConnection = nullptr;

// REQUIRES: the engine's open has returned rc and set db.
int OpenWithoutSync(int rc, sqlite3* db) {
  if (rc == SQLITE_OK) {
    SQLite.sqlite3_exec(db, "PRAGMA journal_mode=MEMORY; PRAGMA synchronous=OFF", nullptr, nullptr, nullptr);
    GConnection = db;
  }
  return rc;
}
int FastOpen(const char* name, sqlite3** db) {
  const int rc = GEngineOpen(name, db);
  return OpenWithoutSync(rc, *db);
}
int FastOpen16(const void* name, sqlite3** db) {
  const int rc = GEngineOpen16(name, db);
  return OpenWithoutSync(rc, *db);
}

int ChangedRows() { return SQLite.sqlite3_total_changes(GConnection); }

// Memory-backed where the system has it, so that the buffer's files cost no disk. A fresh
// name each time: create_directory fails on a folder that exists, so two runs never share.
std::string TemporaryRoot() {
  const std::filesystem::path base =
      std::filesystem::is_directory("/dev/shm") ? "/dev/shm" : std::filesystem::temp_directory_path();
  std::random_device random;
  for (int attempt = 0; attempt < 100; ++attempt) {
    char name[32];
    std::snprintf(name, sizeof(name), "dct_fuzz_%08x", static_cast<unsigned>(random()));
    const std::filesystem::path folder = base / name;
    if (std::filesystem::create_directory(folder)) return folder.string();
  }
  throw std::runtime_error("no temporary folder for the fuzz device below " + base.string());
}

}  // namespace

TFuzzService& TFuzzService::Instance() {
  static TFuzzService service;
  return service;
}

TFuzzService::TFuzzService() : FRoot(TemporaryRoot()) {
  GRoot = FRoot;
  SetCommonAppDataRoot(FRoot + "/");
  FContext.SetListenerSwitch(&GNoListener);
  FContext.CreateSingleDevice();
  if (!LoadSQLiteLibrary(GetSQLiteLibraryName())) Fail("no SQLite engine for the fuzz device");
  GEngineOpen = std::exchange(SQLite.sqlite3_open, FastOpen);
  GEngineOpen16 = std::exchange(SQLite.sqlite3_open16, FastOpen16);
  TDevice* device = FContext.GetSingleDevice();
  if (device->Enable() != 0) Fail("the fuzz device cannot be enabled", device->ResultDescription());
  FDeviceID = device->DeviceID();
  FAppName = device->AppName();
  FAppVersion = device->AppVersion();
  FAutoClearDocs = device->AutoClearDocs();
  FAutoClearItems = device->AutoClearItems();
  DCT_FUZZ_CHECK(GConnection != nullptr, "the buffer opened no connection");
  FChangedRows = ChangedRows();
}

TFuzzService::~TFuzzService() {
  FContext.FreeSingleDevice();
  SQLite.sqlite3_open = GEngineOpen;
  SQLite.sqlite3_open16 = GEngineOpen16;
  FContext.SetListenerSwitch(nullptr);
  SetCommonAppDataRoot("");
  std::error_code ignored;
  std::filesystem::remove_all(FRoot, ignored);
  GRoot.clear();
}

std::unique_ptr<IMobileDCT> TFuzzService::NewMobileDCT() { return std::make_unique<TMobileDCT>(FContext); }

void TFuzzService::Reset() {
  TDevice* device = FContext.GetSingleDevice();
  device->SetDeviceID(FDeviceID);
  device->SetAutoClearDocs(FAutoClearDocs);
  device->SetAutoClearItems(FAutoClearItems);
  device->SetAppName(FAppName);
  device->SetAppVersion(FAppVersion);
  // Clearing compacts the database, so it runs only after an input that wrote.
  if (ChangedRows() != FChangedRows) {
    std::lock_guard<std::mutex> guard(FContext.CommandLock());
    DCT_FUZZ_CHECK(device->ClearDocsFromBuffer() == 0, device->ResultDescription());
    DCT_FUZZ_CHECK(device->ClearItemsFromBuffer() == 0, device->ResultDescription());
    FChangedRows = ChangedRows();
  }
}

}  // namespace dct::fuzz
