// The status at a glance: what the info page's Status section and /status.json show.
//
// ReadServiceStatus takes it on any thread and never waits for CommandLock: the call
// counters and the start are atomics of the context (TServiceCounters), the device's
// settings take its settings lock, the times of the last load and push are atomics of the
// device, the numbers of items, documents and rows are the counts the data buffer keeps by
// its own writes (TDataBuffer::Counts), and the file's size is one look at the file.
//
// /status.json (StatusJSON) is a stable shape for monitoring tools; times are ISO 8601 in
// UTC to the second, numbers are JSON numbers, and a value not known is null:
//
//   {"program": "dct_korvelmobilesvc", "version": "1.0.0",
//    "startTime": "2025-01-31T08:00:00Z", "uptimeSeconds": 3600, "port": 7211,
//    "device": {"id": "0", "appName": "unknown", "appVersion": "unknown", "enabled": true},
//    "database": {"file": ".../DataBuffer/0.db", "sizeBytes": 24576},
//    "items": 1000,
//    "documents": [{"source": 0, "documents": 0, "rows": 0}, {"source": 1, "documents": 2, "rows": 7}],
//    "lastCatalogueLoad": "2025-01-31T08:10:00Z", "lastDocumentPush": null,
//    "calls": {"served": 12, "failed": 1}}
//
// "device" and "database" are null without a device; "items" is null and "documents" empty
// while the database is closed or its counts are not known. "documents" lists sources 0
// (prepared by the accounting side) and 1 (pushed by terminals) always, any other source
// holding documents too, in ascending order. Members are only ever added to this shape.
#pragma once

#include <chrono>
#include <cstdint>
#include <map>
#include <optional>
#include <string>

#include "buffer/uDataBuffer.h"

namespace dct {

class TDeviceContext;

struct TServiceStatus {
  using TTime = std::chrono::system_clock::time_point;

  std::string Program;  // the executable's file title
  std::string Version;  // the project's version
  TTime StartTime;
  int64_t UptimeSeconds = 0;
  uint16_t Port = 0;

  bool HasDevice = false;
  std::string DeviceID;
  std::string AppName;
  std::string AppVersion;
  bool Enabled = false;
  std::string DatabaseFile;
  std::optional<uint64_t> DatabaseBytes;  // none when the file cannot be looked at

  std::optional<int64_t> Items;  // none while closed or not known
  std::map<int64_t, TSourceCounts> Sources;
  std::optional<TTime> LastCatalogueLoad;
  std::optional<TTime> LastDocumentPush;

  uint64_t CallsServed = 0;
  uint64_t CallsFailed = 0;
};

// The project's version, as the build gives it.
const char* ProgramVersion();

TServiceStatus ReadServiceStatus(const TDeviceContext& Context, const std::string& Program, uint16_t Port);

std::string StatusJSON(const TServiceStatus& Status);
// The info page's Status section: a heading and tables whose cells carry ids
// ("status-items", "status-source-1-rows", ...) for whoever reads the page.
void AppendStatusSection(std::string& Page, const TServiceStatus& Status);

// "2025-01-31T08:00:00Z": whole seconds, UTC.
std::string ISO8601UTC(std::chrono::system_clock::time_point Time);

}  // namespace dct
