// Who the service is: the names, texts and event identifiers that bind every place that
// stands for the service manager and the event log.
#pragma once

#include <string>

namespace dct {

constexpr char kServiceName[] = "dct_korvelmobile";
constexpr char kServiceDisplayName[] = "Korvel mobile DCT service";
// The long description, with its closing double quote, as the service has always shown it.
constexpr char kServiceDescription[] = "Сервер драйвера мобильных терминалов сбора данных Zelt-Korvel\"";
constexpr char kUnitFileName[] = "dct_korvelmobile.service";

// Event-log entries of the start.
constexpr char kStartSucceededText[] = "Служба успешно запущена";
constexpr char kStartFailedText[] = "Ошибка запуска службы: ";  // + the code's description
constexpr int kStartEventId = 1;
// "Service failed on %s: %s" with the request ("start", "stop", ...) and the message.
constexpr char kServiceFailedFormat[] = "Service failed on %s: %s";
constexpr int kServiceFailedEventId = 0;
constexpr int kEventCategory = 0;
// The service runs on without a log folder; the entry tells the operator why there is none.
constexpr char kNoLogFolderText[] =
    "No log folder: neither the machine-wide nor the per-user data folder can be used";
constexpr int kNoLogFolderEventId = 2;

// Console reports of INSTALL and UNINSTALL; the failures are filled with the display name
// and the error text.
constexpr char kInstalledText[] = "Service installed successfully";
constexpr char kUninstalledText[] = "Service uninstalled successfully";
constexpr char kInstallFailedFormat[] = "Service \"%s\" failed to install with error: \"%s\"";
constexpr char kUninstallFailedFormat[] = "Service \"%s\" failed to uninstall with error: \"%s\"";

// Format with each "%s" replaced, in order, by A and then B; the rest unchanged.
inline std::string FillFormat(const std::string& Format, const std::string& A, const std::string& B) {
  std::string out;
  int used = 0;
  for (size_t i = 0; i < Format.size(); ++i) {
    if (used < 2 && Format[i] == '%' && i + 1 < Format.size() && Format[i + 1] == 's') {
      out += used++ == 0 ? A : B;
      ++i;
    } else {
      out += Format[i];
    }
  }
  return out;
}

}  // namespace dct
