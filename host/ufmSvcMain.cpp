#include "host/ufmSvcMain.h"

#include <exception>

#include "host/ServiceDefinition.h"

namespace dct {

bool Tdct_korvelmobile::ServiceStart() {
  int code = 0;
  try {
    code = FDevice.Enable();
  } catch (const std::exception& e) {
    WriteFailure("start", e.what());
    return false;
  } catch (...) {
    WriteFailure("start", "unknown exception");
    return false;
  }
  const bool started = FDevice.Enabled();
  TEventEntry entry;
  entry.Category = kEventCategory;
  entry.EventId = kStartEventId;
  if (code != 0) {
    entry.Type = TEventType::Error;
    entry.Text = kStartFailedText + FDevice.GetResultDescription(code);
  } else {
    entry.Type = TEventType::Information;
    entry.Text = kStartSucceededText;
  }
  FEventLog.Write(entry);
  return started;
}

bool Tdct_korvelmobile::ServiceStop() { return DisableAs("stop"); }

bool Tdct_korvelmobile::ServiceShutdown() { return DisableAs("shutdown"); }

bool Tdct_korvelmobile::DisableAs(const std::string& Request) {
  try {
    FDevice.Disable();
    return true;
  } catch (const std::exception& e) {
    WriteFailure(Request, e.what());
  } catch (...) {
    WriteFailure(Request, "unknown exception");
  }
  return false;
}

void Tdct_korvelmobile::WriteFailure(const std::string& Request, const std::string& Message) {
  TEventEntry entry;
  entry.Type = TEventType::Error;
  entry.Category = kEventCategory;
  entry.EventId = kServiceFailedEventId;
  entry.Text = FillFormat(kServiceFailedFormat, Request, Message);
  FEventLog.Write(entry);
}

}  // namespace dct
