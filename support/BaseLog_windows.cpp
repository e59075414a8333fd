#include "support/BaseLog.h"

#include <windows.h>

#include <cstring>

#include "support/uWideText.h"

namespace dct {

namespace {

// GetComputerNameW's room: 261 characters and the terminating NUL.
constexpr DWORD kComputerNameRoom = 261 + 1;

// An address inside the module that carries this copy of the unit, so that the slot is
// registered for, and looked up from, the module that holds the code.
void ModuleAnchor() {}

HINSTANCE ThisModuleInstance() {
  HMODULE module = nullptr;
  if (!GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          reinterpret_cast<LPCWSTR>(&ModuleAnchor), &module)) {
    return GetModuleHandleW(nullptr);
  }
  return module;
}

}  // namespace

// The name is published as ANSI text (the slot is registered under its ANSI name, and the
// other modules read it with the ANSI calls), so it is converted once, here, with the
// system's replacement for characters the code page lacks, and cut on a character.
std::string LogNameBufferText(const std::string& Name) {
  const std::wstring wide = Utf8ToWide(Name);
  if (wide.empty()) return std::string();
  const int size = static_cast<int>(wide.size());
  const int length = WideCharToMultiByte(CP_ACP, 0, wide.data(), size, nullptr, 0, nullptr, nullptr);
  if (length <= 0) return std::string();
  std::string text(static_cast<size_t>(length), '\0');
  WideCharToMultiByte(CP_ACP, 0, wide.data(), size, text.data(), length, nullptr, nullptr);
  if (text.size() <= kLogNameMaxBytes) return text;
  // In a double-byte code page a lead byte takes the next byte with it.
  size_t cut = 0;
  while (cut < text.size()) {
    const size_t next = cut + (IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(text[cut])) ? 2 : 1);
    if (next > kLogNameMaxBytes) break;
    cut = next;
  }
  text.resize(cut);
  return text;
}

int GetLogSessionId() {
  DWORD session = 0;
  if (!ProcessIdToSessionId(GetCurrentProcessId(), &session) || session > 0x7FFFFFFF) {
    return kUnknownLogSession;
  }
  return static_cast<int>(session);
}

std::string GetLogComputerName() {
  wchar_t name[kComputerNameRoom] = {};
  DWORD size = kComputerNameRoom;
  if (!GetComputerNameW(name, &size)) return std::string();
  return WideToUtf8(std::wstring(name, size));
}

uint32_t CurrentProcessId() { return GetCurrentProcessId(); }

// Created initially owned; the creation itself tells whether the name was taken, so finding
// and creating are one step.
TProcessObject CreateHostMarker(const std::string& Name) {
  const HANDLE mutex = CreateMutexW(nullptr, TRUE, Utf8ToWide(Name).c_str());
  if (mutex == nullptr) return kNoProcessObject;
  if (GetLastError() == ERROR_ALREADY_EXISTS) {
    CloseHandle(mutex);
    return kNoProcessObject;
  }
  return reinterpret_cast<TProcessObject>(mutex);
}

bool HostMarkerExists(const std::string& Name) {
  const HANDLE mutex = OpenMutexW(SYNCHRONIZE, FALSE, Utf8ToWide(Name).c_str());
  if (mutex == nullptr) return false;
  CloseHandle(mutex);
  return true;
}

void CloseHostMarker(TProcessObject Marker) { CloseHandle(reinterpret_cast<HANDLE>(Marker)); }

// The class is the slot: process-wide (CS_GLOBALCLASS), and its window-procedure field
// carries the buffer's address. No window of it is ever made, so nothing calls that field.
TProcessObject PublishLogName(const char* Buffer) {
  WNDCLASSA slot{};
  slot.style = CS_GLOBALCLASS;
  slot.lpfnWndProc = reinterpret_cast<WNDPROC>(const_cast<char*>(Buffer));
  slot.hInstance = ThisModuleInstance();
  slot.lpszClassName = kPublicationSlotName;
  if (RegisterClassA(&slot) == 0) return kNoProcessObject;
  return reinterpret_cast<TProcessObject>(slot.hInstance);
}

bool ReadPublishedLogName(char* Buffer) {
  WNDCLASSA slot{};
  if (!GetClassInfoA(ThisModuleInstance(), kPublicationSlotName, &slot)) return false;
  if (slot.lpfnWndProc == nullptr) return false;
  std::memcpy(Buffer, reinterpret_cast<const void*>(slot.lpfnWndProc), kLogNameBufferSize);
  return true;
}

void WithdrawLogName(TProcessObject Slot) {
  UnregisterClassW(Utf8ToWide(kPublicationSlotName).c_str(), reinterpret_cast<HINSTANCE>(Slot));
}

}  // namespace dct
