#include "host/EventLog.h"

#include <windows.h>

#include <filesystem>
#include <fstream>
#include <iterator>

#include <gtest/gtest.h>

#include "host/ServiceDefinition.h"
#include "support/uWideText.h"

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

// The message Event Viewer shows for an entry: the text of Id in the module's table, in
// Language (0: the system's own choice), with Text as insertion string 1. Empty with the
// error in Error when the table has no such message.
std::string FormatFromTable(HMODULE Module, int Id, WORD Language, const std::string& Text, DWORD& Error) {
  const std::wstring insertion = Utf8ToWide(Text);
  const DWORD_PTR arguments[] = {reinterpret_cast<DWORD_PTR>(insertion.c_str())};
  wchar_t* buffer = nullptr;
  const DWORD length = FormatMessageW(
      FORMAT_MESSAGE_FROM_HMODULE | FORMAT_MESSAGE_ARGUMENT_ARRAY | FORMAT_MESSAGE_ALLOCATE_BUFFER, Module,
      static_cast<DWORD>(Id), Language, reinterpret_cast<wchar_t*>(&buffer), 0,
      reinterpret_cast<va_list*>(const_cast<DWORD_PTR*>(arguments)));
  Error = length == 0 ? GetLastError() : 0;
  const std::wstring text = length > 0 ? std::wstring(buffer, length) : std::wstring();
  if (buffer != nullptr) LocalFree(buffer);
  return WideToUtf8(text);
}

// The program is loaded as Event Viewer loads an EventMessageFile: as data, never run.
TEST(EventLogWindowsTest, EveryEventIdFormatsFromTheProgramToItsInsertionString) {
  HMODULE program = LoadLibraryExW(Utf8ToWide(DCT_PROGRAM_FILE).c_str(), nullptr, LOAD_LIBRARY_AS_DATAFILE);
  ASSERT_NE(program, nullptr) << DCT_PROGRAM_FILE << ": error " << GetLastError();
  const char* texts[] = {
      kStartSucceededText, "Ошибка запуска службы: Библиотека не найдена",
      "Service failed on start: disk 100% full, %1 %s %%",  // an insertion is never expanded again
      "The service process could not connect to the service controller",  // started by hand
  };
  const WORD languages[] = {0, MAKELANGID(LANG_ENGLISH, SUBLANG_ENGLISH_US),
                            MAKELANGID(LANG_RUSSIAN, SUBLANG_DEFAULT)};
  for (int id : {kServiceFailedEventId, kStartEventId, kNoLogFolderEventId}) {
    for (WORD language : languages) {
      for (const char* text : texts) {
        DWORD error = 0;
        EXPECT_EQ(FormatFromTable(program, id, language, text, error), text)
            << "event " << id << ", language " << language << ", error " << error;
      }
    }
  }
  // The texts came from the table: an identifier it lacks is not found there.
  DWORD error = 0;
  EXPECT_EQ(FormatFromTable(program, 3, 0, "x", error), "");
  EXPECT_EQ(error, static_cast<DWORD>(ERROR_MR_MID_NOT_FOUND));
  FreeLibrary(program);
}

}  // namespace
}  // namespace dct
