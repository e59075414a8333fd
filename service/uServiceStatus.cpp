#include "service/uServiceStatus.h"

#include <filesystem>
#include <system_error>

#include "device/uDevice.h"
#include "service/uXMLEscape.h"
#include "values/uJSONText.h"

namespace dct {

namespace {

// Sources listed even when empty, so a monitor finds them without a special case.
constexpr int64_t kListedSources[] = {0, 1};

std::optional<uint64_t> FileBytes(const std::string& utf8Path) {
  if (utf8Path.empty()) return std::nullopt;
  std::error_code error;
  const uint64_t bytes = std::filesystem::file_size(
      std::filesystem::path(std::u8string(utf8Path.begin(), utf8Path.end())), error);
  if (error) return std::nullopt;
  return bytes;
}

std::optional<TServiceStatus::TTime> UnlessEpoch(TServiceStatus::TTime time) {
  if (time.time_since_epoch().count() == 0) return std::nullopt;
  return time;
}

// Built by appending: GCC 12's -Wrestrict misreads a literal put before a temporary at -O3.
std::string TwoDigits(int64_t v) {
  std::string text(v < 10 ? 1 : 0, '0');
  text += std::to_string(v);
  return text;
}

// "3d 04:05:06": days, then hours, minutes and seconds.
std::string UptimeText(int64_t seconds) {
  const int64_t days = seconds / 86400;
  seconds %= 86400;
  return std::to_string(days) + "d " + TwoDigits(seconds / 3600) + ":" + TwoDigits(seconds / 60 % 60) + ":" +
         TwoDigits(seconds % 60);
}

void Member(std::string& out, const char* name) {
  if (out.back() != '{') out += ", ";
  AppendJSONString(out, name);
  out += ": ";
}

void StringMember(std::string& out, const char* name, const std::string& value) {
  Member(out, name);
  AppendJSONString(out, value);
}

void NumberMember(std::string& out, const char* name, std::optional<int64_t> value) {
  Member(out, name);
  out += value ? std::to_string(*value) : "null";
}

void TimeMember(std::string& out, const char* name, const std::optional<TServiceStatus::TTime>& value) {
  Member(out, name);
  if (value)
    AppendJSONString(out, ISO8601UTC(*value));
  else
    out += "null";
}

std::string TimeText(const std::optional<TServiceStatus::TTime>& value) {
  return value ? ISO8601UTC(*value) : "never";
}

void Row(std::string& page, const char* id, const char* label, const std::string& text) {
  page += "<tr><th>";
  page += label;
  page += "</th><td id=\"status-";
  page += id;
  page += "\">";
  page += HTMLEscape(text);
  page += "</td></tr>";
}

}  // namespace

const char* ProgramVersion() { return DCT_PROGRAM_VERSION; }

std::string ISO8601UTC(std::chrono::system_clock::time_point Time) {
  using namespace std::chrono;
  const sys_seconds seconds = floor<std::chrono::seconds>(Time);
  const sys_days day = floor<days>(seconds);
  const year_month_day date(day);
  const hh_mm_ss<std::chrono::seconds> clock(seconds - day);
  const int y = static_cast<int>(date.year());
  std::string out = (y >= 0 && y < 1000 ? std::string(y < 10    ? "000"
                                                      : y < 100 ? "00"
                                                                : "0")
                                        : "") +
                    std::to_string(y) + "-" + TwoDigits(static_cast<unsigned>(date.month())) + "-" +
                    TwoDigits(static_cast<unsigned>(date.day())) + "T" + TwoDigits(clock.hours().count()) +
                    ":" + TwoDigits(clock.minutes().count()) + ":" + TwoDigits(clock.seconds().count()) + "Z";
  return out;
}

TServiceStatus ReadServiceStatus(const TDeviceContext& Context, const std::string& Program, uint16_t Port) {
  TServiceStatus status;
  status.Program = Program;
  status.Version = ProgramVersion();
  const TServiceCounters& counters = Context.Counters();
  status.StartTime = counters.StartTime();
  status.UptimeSeconds = counters.UptimeSeconds();
  status.Port = Port;
  // Failed first: a call counted between the two reads cannot make failed exceed served.
  status.CallsFailed = counters.CallsFailed();
  status.CallsServed = counters.CallsServed();

  TDevice* device = Context.GetSingleDevice();
  if (device == nullptr) return status;
  status.HasDevice = true;
  status.DeviceID = device->DeviceID();
  status.AppName = device->AppName();
  status.AppVersion = device->AppVersion();
  status.Enabled = device->Enabled();
  status.LastCatalogueLoad = UnlessEpoch(device->LastCatalogueLoad());
  status.LastDocumentPush = UnlessEpoch(device->LastDocumentPush());

  const TBufferCounts counts = device->DataBuffer().Counts();
  // While closed, the file the next open uses; its identifier is set at that open.
  status.DatabaseFile =
      counts.Open ? counts.FileName : device->DataBuffer().DBPath() + device->DeviceID() + ".db";
  status.DatabaseBytes = FileBytes(status.DatabaseFile);
  if (counts.Open && counts.Known) {
    status.Items = counts.Items;
    status.Sources = counts.Sources;
    for (int64_t source : kListedSources) status.Sources.try_emplace(source);
  }
  return status;
}

std::string StatusJSON(const TServiceStatus& Status) {
  std::string out = "{";
  StringMember(out, "program", Status.Program);
  StringMember(out, "version", Status.Version);
  TimeMember(out, "startTime", Status.StartTime);
  NumberMember(out, "uptimeSeconds", Status.UptimeSeconds);
  NumberMember(out, "port", Status.Port);
  Member(out, "device");
  if (Status.HasDevice) {
    out += "{";
    StringMember(out, "id", Status.DeviceID);
    StringMember(out, "appName", Status.AppName);
    StringMember(out, "appVersion", Status.AppVersion);
    Member(out, "enabled");
    out += Status.Enabled ? "true}" : "false}";
    Member(out, "database");
    out += "{";
    StringMember(out, "file", Status.DatabaseFile);
    NumberMember(out, "sizeBytes",
                 Status.DatabaseBytes ? std::optional<int64_t>(static_cast<int64_t>(*Status.DatabaseBytes))
                                      : std::nullopt);
    out += "}";
  } else {
    out += "null";
    Member(out, "database");
    out += "null";
  }
  NumberMember(out, "items", Status.Items);
  Member(out, "documents");
  out += "[";
  for (const auto& [source, counts] : Status.Sources) {
    if (out.back() != '[') out += ", ";
    out += "{";
    NumberMember(out, "source", source);
    NumberMember(out, "documents", counts.Documents);
    NumberMember(out, "rows", counts.Rows);
    out += "}";
  }
  out += "]";
  TimeMember(out, "lastCatalogueLoad", Status.LastCatalogueLoad);
  TimeMember(out, "lastDocumentPush", Status.LastDocumentPush);
  Member(out, "calls");
  out += "{";
  NumberMember(out, "served", static_cast<int64_t>(Status.CallsServed));
  NumberMember(out, "failed", static_cast<int64_t>(Status.CallsFailed));
  out += "}}\n";
  return out;
}

void AppendStatusSection(std::string& Page, const TServiceStatus& Status) {
  Page += "<h2>Status</h2><table id=\"status\">";
  Row(Page, "version", "Program version", Status.Version);
  Row(Page, "start-time", "Started", ISO8601UTC(Status.StartTime));
  Row(Page, "uptime", "Uptime", UptimeText(Status.UptimeSeconds));
  Row(Page, "port", "Port", std::to_string(Status.Port));
  if (Status.HasDevice) {
    Row(Page, "device-id", "Device", Status.DeviceID);
    Row(Page, "app-name", "App name", Status.AppName);
    Row(Page, "app-version", "App version", Status.AppVersion);
    Row(Page, "enabled", "Enabled", Status.Enabled ? "yes" : "no");
    Row(Page, "database-file", "Database file", Status.DatabaseFile);
    Row(Page, "database-bytes", "Database size (bytes)",
        Status.DatabaseBytes ? std::to_string(*Status.DatabaseBytes) : "unknown");
  } else {
    Row(Page, "device-id", "Device", "none");
  }
  Row(Page, "items", "Items", Status.Items ? std::to_string(*Status.Items) : "unknown");
  Row(Page, "last-catalogue-load", "Last catalogue load", TimeText(Status.LastCatalogueLoad));
  Row(Page, "last-document-push", "Last document push", TimeText(Status.LastDocumentPush));
  Row(Page, "calls-served", "Calls served", std::to_string(Status.CallsServed));
  Row(Page, "calls-failed", "Calls failed", std::to_string(Status.CallsFailed));
  Page += "</table>";
  if (Status.Sources.empty()) return;
  Page += "<table id=\"status-documents\"><tr><th>Document source</th><th>Documents</th><th>Rows</th></tr>";
  for (const auto& [source, counts] : Status.Sources) {
    const std::string id = "status-source-" + std::to_string(source);
    Page += "<tr id=\"" + id + "\"><td>" + std::to_string(source) + "</td><td id=\"" + id + "-documents\">" +
            std::to_string(counts.Documents) + "</td><td id=\"" + id + "-rows\">" +
            std::to_string(counts.Rows) + "</td></tr>";
  }
  Page += "</table>";
}

}  // namespace dct
