#include "host/EventLog.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

namespace dct {
namespace {

// Standard error pointed at a file for one scope; Text() is what reached it, byte for byte.
class TStandardErrorFile {
 public:
  TStandardErrorFile() : FPath(std::filesystem::temp_directory_path() / "dct_host_stderr.txt") {
    FOld = GetStdHandle(STD_ERROR_HANDLE);
    FFile = CreateFileW(FPath.c_str(), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                        FILE_ATTRIBUTE_NORMAL, nullptr);
    SetStdHandle(STD_ERROR_HANDLE, FFile);
  }
  ~TStandardErrorFile() {
    SetStdHandle(STD_ERROR_HANDLE, FOld);
    CloseHandle(FFile);
    std::error_code ec;
    std::filesystem::remove(FPath, ec);
  }
  bool Opened() const { return FFile != INVALID_HANDLE_VALUE; }
  std::string Text() const {
    std::ifstream in(FPath, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), {});
  }

 private:
  std::filesystem::path FPath;
  HANDLE FOld = nullptr;
  HANDLE FFile = INVALID_HANDLE_VALUE;
};

TEST(EventLogWindowsTest, ConsoleRunEchoesEveryEntryAsUtf8BytesWhenRedirected) {
  TStandardErrorFile redirected;
  ASSERT_TRUE(redirected.Opened());
  TEventLog echoing(true, true);
  echoing.Write({TEventType::Information, 0, 1, "Служба успешно запущена"});
  TEventLog consoleOnly(false);
  consoleOnly.Write({TEventType::Error, 0, 1, "Ошибка запуска службы: Библиотека не найдена"});
  EXPECT_EQ(redirected.Text(),
            "dct_korvelmobile: information, event 1: Служба успешно запущена\n"
            "dct_korvelmobile: error, event 1: Ошибка запуска службы: Библиотека не найдена\n");
}

TEST(EventLogWindowsTest, ServiceRunWritesToTheEventLogOnly) {
  TStandardErrorFile redirected;
  ASSERT_TRUE(redirected.Opened());
  if (!WriteToSystemLog(kEventSource, {TEventType::Information, 0, 1, "host test entry"})) {
    GTEST_SKIP() << "the event log refuses entries here (error " << GetLastError() << ")";
  }
  TEventLog service(true);
  service.Write({TEventType::Information, 0, 1, "host test entry"});
  EXPECT_EQ(redirected.Text(), "");
}

}  // namespace
}  // namespace dct
