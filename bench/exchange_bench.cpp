// The catalogue and document exchange over HTTP, each against a floor measured in the same
// run:
//   SaveItemsToBuff mode 0 of 100,000 items   vs  pugixml parse + bare SQLite inserts
//   DownloadItems of them                     vs  bare SQLite read + pugixml serialise
//   GetDocuments of 1,000 x 100 rows          vs  the same join read + pugixml serialise
//   GetItemInfo, PushDocumentData (1,000 rows) rates with wrk -c32  vs  the Echo rate
// and the server's peak resident memory during the catalogue load.
//
//   exchange_bench SERVER [SECONDS]
// SERVER is the program (build/dct_korvelmobilesvc), started with --port and --data-root
// and stopped with SIGTERM. Every wrk round lasts SECONDS (default 5).
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <sstream>
#include <string>
#include <vector>

#include "bench/CatalogueFixture.h"
#include "bench/ProgramClient_posix.h"
#include "values/uXMLEncoder.h"

namespace {

namespace fs = std::filesystem;
using namespace dct::bench;

constexpr int kItems = 100000;
constexpr int kDocs = 1000;
constexpr int kRowsPerDoc = 100;
constexpr int kPushRows = 1000;
constexpr int kRepeats = 3;

// Best of kRepeats runs of fn, in seconds, after one untimed run: a catalogue load then
// replaces a stored catalogue, as mode 0 does in service, on both sides.
double Best(const std::function<void()>& fn) {
  fn();
  double best = 1e30;
  for (int i = 0; i < kRepeats; ++i) {
    auto t0 = Clock::now();
    fn();
    best = std::min(best, Seconds(t0));
  }
  return best;
}

// Source-0 documents, written straight into the server's database (no command stores them).
void StoreDocumentsForTerminals(const std::string& file) {
  sqlite3* db;
  sqlite3_open(file.c_str(), &db);
  Exec(db, "BEGIN");
  sqlite3_stmt *head, *row;
  sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO docheaders VALUES (?, 0, 3, ?)", -1, &head, nullptr);
  sqlite3_prepare_v2(db, "INSERT OR REPLACE INTO doctables VALUES (?, ?, ?, '')", -1, &row, nullptr);
  for (int d = 0; d < kDocs; ++d) {
    const std::string id = "ЗАКАЗ-" + std::to_string(100000 + d);
    const std::string description = "Заказ покупателя № " + std::to_string(d);
    sqlite3_bind_text(head, 1, id.c_str(), -1, SQLITE_TRANSIENT);
    sqlite3_bind_text(head, 2, description.c_str(), -1, SQLITE_TRANSIENT);
    if (sqlite3_step(head) != SQLITE_DONE) Fail("header insert");
    sqlite3_reset(head);
    for (int r = 0; r < kRowsPerDoc; ++r) {
      const std::string barcode = dct::FixtureBarcode(d * kRowsPerDoc + r);
      sqlite3_bind_text(row, 1, id.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_text(row, 2, barcode.c_str(), -1, SQLITE_TRANSIENT);
      sqlite3_bind_int64(row, 3, 1000 + r * 250);
      if (sqlite3_step(row) != SQLITE_DONE) Fail("row insert");
      sqlite3_reset(row);
    }
  }
  sqlite3_finalize(head);
  sqlite3_finalize(row);
  Exec(db, "COMMIT");
  sqlite3_close(db);
}

// Floor of GetDocuments: the same join read, grouped into the value document, serialised.
size_t FloorDocuments(const std::string& file) {
  sqlite3* db;
  sqlite3_open(file.c_str(), &db);
  sqlite3_stmt* stmt;
  sqlite3_prepare_v2(db,
                     "SELECT * FROM doctables INNER JOIN docheaders ON  doctables.docid = "
                     "docheaders.id WHERE docheaders.docsource = 0 ORDER BY docid",
                     -1, &stmt, nullptr);
  pugi::xml_document doc;
  doc.append_child(pugi::node_declaration).append_attribute("version") = "1.0";
  pugi::xml_node table = doc.append_child("sa").append_child("elm");
  table.append_attribute("t") = "A";
  std::string current;
  pugi::xml_node rows;
  int docs = 0, rowCount = 0;
  char number[32];
  while (sqlite3_step(stmt) == SQLITE_ROW) {
    const char* docid = reinterpret_cast<const char*>(sqlite3_column_text(stmt, 0));
    if (docs == 0 || current != docid) {
      if (docs > 0) rows.append_attribute("r") = rowCount, rows.append_attribute("c") = 3;
      current = docid;
      ++docs;
      rowCount = 0;
      AppendCell(table, "S", docid);
      AppendCell(table, "N", reinterpret_cast<const char*>(sqlite3_column_text(stmt, 6)));
      rows = table.append_child("elm");
      rows.append_attribute("t") = "A";
      AppendCell(table, "S", reinterpret_cast<const char*>(sqlite3_column_text(stmt, 7)));
    }
    ++rowCount;
    AppendCell(rows, "S", reinterpret_cast<const char*>(sqlite3_column_text(stmt, 1)));
    std::snprintf(number, sizeof number, "%.15g", sqlite3_column_int64(stmt, 2) / 1000.0);
    AppendCell(rows, "N", number);
    AppendCell(rows, "S", reinterpret_cast<const char*>(sqlite3_column_text(stmt, 3)));
  }
  if (docs > 0) rows.append_attribute("r") = rowCount, rows.append_attribute("c") = 3;
  table.append_attribute("r") = docs;
  table.append_attribute("c") = 4;
  sqlite3_finalize(stmt);
  sqlite3_close(db);
  return Save(doc).size();
}

// A wrk script that posts one ExecuteCommand per request on a new connection; `bodies`
// are chosen at random per request.
void WriteLua(const std::string& file, const std::vector<std::string>& bodies) {
  std::ofstream lua(file);
  lua << "wrk.method = \"POST\"\n"
         "wrk.headers[\"Content-Type\"] = \"text/xml; charset=utf-8\"\n"
         "wrk.headers[\"SOAPAction\"] = '\"urn:uSvcIntf-IMobileDCT#ExecuteCommand\"'\n"
         "wrk.headers[\"Connection\"] = \"close\"\n"
         "local bodies = {\n";
  for (const std::string& b : bodies) lua << "[==========[" << b << "]==========],\n";
  lua << "}\n"
         "request = function()\n"
         "  return wrk.format(nil, nil, nil, bodies[math.random(#bodies)])\n"
         "end\n";
}

struct TRate {
  double PerSecond = 0;
  std::string p50, P99;
};

TRate RunWrk(const std::string& lua, int port, int seconds) {
  const std::string command = "wrk -t2 -c32 -d" + std::to_string(seconds) + "s --timeout 10s --latency -s " +
                              lua + " http://127.0.0.1:" + std::to_string(port) + "/soap/IMobileDCT";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) Fail("wrk");
  std::string out;
  char buf[4096];
  while (size_t n = std::fread(buf, 1, sizeof buf, pipe)) out.append(buf, n);
  if (::pclose(pipe) != 0) Fail("wrk failed:\n" + out);
  if (out.find("Non-2xx") != std::string::npos || out.find("Socket errors") != std::string::npos) {
    Fail("errors in the wrk run:\n" + out);
  }
  TRate rate;
  std::istringstream lines(out);
  std::string line;
  while (std::getline(lines, line)) {
    std::istringstream words(line);
    std::string first, second;
    words >> first >> second;
    if (first == "Requests/sec:") rate.PerSecond = std::atof(second.c_str());
    if (first == "50%") rate.p50 = second;
    if (first == "99%") rate.P99 = second;
  }
  return rate;
}

std::string ValueText(const dct::Variant& v) {
  dct::TXMLEncoder encoder;
  return encoder.Encode(v);
}

dct::Variant S(const std::string& s) { return dct::Variant::FromString(s); }
dct::Variant D(double d) { return dct::Variant::FromDouble(d); }

}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) Fail("usage: exchange_bench SERVER [SECONDS] | --dump-load FILE");
  if (std::string(argv[1]) == "--dump-load" && argc > 2) {  // the request body, for profiling
    std::ofstream(argv[2]) << ExecuteCommandBody("SaveItemsToBuff",
                                                 ValueText(dct::MakeCatalogueValue(kItems)));
    return 0;
  }
  const std::string program = argv[1];
  const int seconds = argc > 2 ? std::atoi(argv[2]) : 5;
  const fs::path work = fs::temp_directory_path() / ("dct_exchange_bench_" + std::to_string(::getpid()));
  fs::create_directories(work / "root");
  std::printf("Exchange over HTTP against in-process floors; best of %d runs each\n", kRepeats);

  // --- Catalogue load -------------------------------------------------------------------
  const std::string valueText = ValueText(dct::MakeCatalogueValue(kItems));
  const std::string loadBody = ExecuteCommandBody("SaveItemsToBuff", valueText);
  const double floorLoad = Best([&] { FloorLoad(valueText, (work / "floor.db").string()); });

  TProgram server(program, (work / "root").string() + "/");
  double peak = 0;
  const double ourLoad = Best([&] {
    server.ResetPeak();
    Call(server.port, loadBody);
    peak = std::max(peak, server.PeakMiB());
  });
  const double requestMiB = loadBody.size() / 1048576.0;
  if (std::getenv("EXCHANGE_ONLY_LOAD")) {  // for profiling the load alone
    std::printf("load: ours %.3f s, floor %.3f s, peak %.1f MiB = %.2f x request\n", ourLoad, floorLoad, peak,
                peak / requestMiB);
    return 0;
  }
  std::printf(
      "SaveItemsToBuff mode 0, %d items (request %.1f MiB): ours %.3f s, floor %.3f s, ratio %.2f (goal <= "
      "1.5)\n",
      kItems, requestMiB, ourLoad, floorLoad, ourLoad / floorLoad);
  std::printf("  server peak resident memory during the call: %.1f MiB = %.2f x the request (goal <= 4)\n",
              peak, peak / requestMiB);

  // --- Catalogue download ---------------------------------------------------------------
  const std::string downloadBody = ExecuteCommandBody("DownloadItems", "");
  size_t answerSize = 0;
  const double ourDownload = Best([&] { answerSize = Call(server.port, downloadBody); });
  const double floorDownload = Best([&] { FloorDownload((work / "floor.db").string()); });
  std::printf(
      "DownloadItems, %d items (answer %.1f MiB): ours %.3f s, floor %.3f s, ratio %.2f (goal <= 1.5)\n",
      kItems, answerSize / 1048576.0, ourDownload, floorDownload, ourDownload / floorDownload);

  // --- Documents for the terminals ------------------------------------------------------
  const std::string dbFile = (work / "root" / "dct_korvelmobile" / "DataBuffer" / "0.db").string();
  StoreDocumentsForTerminals(dbFile);
  const std::string documentsBody = ExecuteCommandBody("GetDocuments", "");
  const double ourDocuments = Best([&] { answerSize = Call(server.port, documentsBody); });
  const double floorDocuments = Best([&] { FloorDocuments(dbFile); });
  std::printf(
      "GetDocuments, %d x %d rows (answer %.1f MiB): ours %.3f s, floor %.3f s, ratio %.2f (goal <= 1.5)\n",
      kDocs, kRowsPerDoc, answerSize / 1048576.0, ourDocuments, floorDocuments,
      ourDocuments / floorDocuments);

  // --- Rates against Echo ---------------------------------------------------------------
  const std::string echoLua = (work / "echo.lua").string();
  WriteLua(echoLua,
           {ExecuteCommandBody("Echo", ValueText(dct::Variant::ArrayOf(
                                           {D(2.5), S("a & b <c>"), dct::Variant::FromBoolean(true)})))});
  std::vector<std::string> lookups;
  for (int i = 0; i < 200; ++i) {
    lookups.push_back(ExecuteCommandBody(
        "GetItemInfo", ValueText(dct::Variant::ArrayOf({D(0), S(dct::FixtureBarcode(i * (kItems / 200)))}))));
  }
  const std::string lookupLua = (work / "lookup.lua").string();
  WriteLua(lookupLua, lookups);
  std::vector<std::string> pushes;
  for (int d = 0; d < 8; ++d) {
    dct::Variant rows = dct::Variant::CreateArray({{0, kPushRows - 1}, {0, 2}});
    for (int r = 0; r < kPushRows; ++r) {
      rows.Put(r, 0, S(dct::FixtureBarcode(r * 37 + d)));
      rows.Put(r, 1, D(1 + r % 7));
      rows.Put(r, 2, S(r % 10 == 0 ? "SN" + std::to_string(r) : ""));
    }
    pushes.push_back(ExecuteCommandBody(
        "PushDocumentData", ValueText(dct::Variant::ArrayOf(
                                {S("ТСД-" + std::to_string(d)), D(2), D(0), rows, S("Инвентаризация")}))));
  }
  const std::string pushLua = (work / "push.lua").string();
  WriteLua(pushLua, pushes);

  std::printf("Rates with wrk -t2 -c32, new connection per request, %d s per round:\n", seconds);
  auto report = [](const char* name, const TRate& r) {
    std::printf("  %-17s %9.0f req/s  p50 %8s  p99 %8s\n", name, r.PerSecond, r.p50.c_str(), r.P99.c_str());
  };
  const TRate echo1 = RunWrk(echoLua, server.port, seconds);
  report("Echo", echo1);
  const TRate lookup = RunWrk(lookupLua, server.port, seconds);
  report("GetItemInfo", lookup);
  const TRate push = RunWrk(pushLua, server.port, seconds);
  report("PushDocumentData", push);
  // wrk leaves up to 32 pushes running when it stops; let them finish before measuring Echo,
  // or their slots turn new connections away (the 33rd request is refused by design).
  ::sleep(3);
  const TRate echo2 = RunWrk(echoLua, server.port, seconds);
  report("Echo", echo2);
  const double echoRate = (echo1.PerSecond + echo2.PerSecond) / 2;
  std::printf(
      "  GetItemInfo / Echo = %.2f (goal >= 0.8); PushDocumentData (%d rows) / Echo = %.2f (goal >= 0.5)\n",
      lookup.PerSecond / echoRate, kPushRows, push.PerSecond / echoRate);

  fs::remove_all(work);
  return 0;
}
