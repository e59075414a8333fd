// TDevice: one logical endpoint that terminals and the accounting system talk to. It holds
// the settings that clients set, a table of twelve named commands, and its data buffer.
//
// Commands run one at a time, under its context's CommandLock (see uDeviceContext.h). The
// context outlives the device: the device registers in its list and switches its listener.
// Settings are written by
// SetSingleDeviceParams on any thread; each setting is read and written under the device's
// own settings lock, so a command never sees a torn string.
//
// This header also brings in uDeviceContext.h: every caller of the device needs the context
// as well.
//
// In one call: ExecuteCommand is called by TMobileDCT; the handlers (uDeviceCommands.cpp)
// call TDataBuffer.
#pragma once

#include <atomic>
#include <chrono>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>

#include "device/uDeviceCommon.h"
#include "device/uDeviceContext.h"
#include "values/Variant.h"

namespace dct {

class TDataBuffer;

class TDevice {
 public:
  // Registers itself in the context's device list. REQUIRES: Context outlives the device.
  explicit TDevice(TDeviceContext& Context);
  ~TDevice();
  TDevice(const TDevice&) = delete;
  TDevice& operator=(const TDevice&) = delete;

  // Runs a command by name (Latin letters compared without case). Always fills
  // ResultDescription; 1002 for an unknown name; 1001 with the message when the handler raises.
  int ExecuteCommand(const std::string& CommandName, const Variant& InputParameters,
                     Variant& OutputParameters, std::string& ResultDescription);
  // 1001: the device's own ResultDescription; others: the device table, then the general one.
  std::string GetResultDescription(int ResultCode) const;

  // 0, 1006 (no engine), or the buffer's code. May raise when the listener cannot start.
  int Enable();
  void Disable();
  bool Enabled() const { return FEnabled.load(); }
  // What the last Enable that returned 0 leaves for the operator (the buffer's OpenWarning:
  // its file could not be compacted); empty when nothing.
  std::string StartWarning() const;

  // Settings.
  std::string DeviceID() const;
  void SetDeviceID(const std::string& id);
  bool AutoClearItems() const { return FAutoClearItems.load(); }
  void SetAutoClearItems(bool v) { FAutoClearItems.store(v); }
  bool AutoClearDocs() const { return FAutoClearDocs.load(); }
  void SetAutoClearDocs(bool v) { FAutoClearDocs.store(v); }
  uint32_t Timeout() const { return FTimeout.load(); }
  void SetTimeout(uint32_t v) { FTimeout.store(v); }
  std::string AppName() const;
  void SetAppName(const std::string& v);
  std::string AppVersion() const;
  void SetAppVersion(const std::string& v);
  // Assigned only before the device serves requests.
  TGetItemInfo OnGetItemInfo;
  TSetDocumentInfo OnSetDocumentInfo;

  // When a catalogue load (SaveItemsToBuff) or a document push (PushDocumentData) last
  // stored what it was given; the epoch itself when none did since the device was made.
  // Safe on any thread.
  std::chrono::system_clock::time_point LastCatalogueLoad() const;
  std::chrono::system_clock::time_point LastDocumentPush() const;

  const std::string& ResultDescription() const { return FResultDescription; }
  TDataBuffer& DataBuffer() { return *FDataBuffer; }

  // The command table, in its fixed order.
  const TSvcMethodArray& SvcMethods() const { return FSvcMethodList; }
  int FindSvcMethod(const std::string& Name) const;

  // Command handlers (the table binds these): each turns the input value into a buffer or
  // callback call, and its result into the output value. 1004 when the input is malformed.
  // Defined in uDeviceCommands.cpp.
  int Echo(const Variant& In, Variant& Out);
  int CheckIn(const Variant& In, Variant& Out);
  int DownloadItems(const Variant& In, Variant& Out);
  int ClearData(const Variant& In, Variant& Out);
  int GetItemInfo(const Variant& In, Variant& Out);
  int GetDocuments(const Variant& In, Variant& Out);
  int PushDocumentData(const Variant& In, Variant& Out);
  int SaveItemsToBuff(const Variant& In, Variant& Out);
  int ReadDocFromBuff(const Variant& In, Variant& Out);
  int ReadDocsHeadersFromBuff(const Variant& In, Variant& Out);
  int DeleteDocFromBuffer(const Variant& In, Variant& Out);
  int ClearItemsFromBuffer(const Variant& In, Variant& Out);

  // Typed buffer operations: each copies the buffer's ResultDescription afterwards.
  int SaveItemsToBuff(uint8_t Mode, const TItemsArray& Items);
  int SaveDocToBuff(const TDocument& Doc, bool Update);
  int ReadDocFromBuff(const TStringArray& Ids, TDocument& Doc);
  int ReadDocsHeadersFromBuff(int DocSource, TDocuments& Docs);
  int GetBuffDocCount(int DocSource, int& DocCount);
  int DeleteDocFromBuffer(const TStringArray& Ids);
  int ClearDocsFromBuffer();
  int ClearItemsFromBuffer();

 private:
  void AddSvcMethod(const std::string& Name, TSvcMethod Method);
  void RegisterSvcMethods();
  void TakeBufferDescription();
  static void NoteNow(std::atomic<int64_t>& When);

  TDeviceContext& FContext;
  mutable std::mutex FSettingsLock;  // guards the text settings below
  std::string FDeviceID = "0";
  std::string FAppName = "unknown";
  std::string FAppVersion = "unknown";
  std::atomic<bool> FAutoClearItems{false};
  std::atomic<bool> FAutoClearDocs{false};
  std::atomic<uint32_t> FTimeout{0};
  std::atomic<bool> FEnabled{false};
  std::atomic<int64_t> FLastCatalogueLoad{0};  // milliseconds since the epoch
  std::atomic<int64_t> FLastDocumentPush{0};
  std::unique_ptr<TDataBuffer> FDataBuffer;
  std::string FResultDescription;
  TSvcMethodArray FSvcMethodList;
};

}  // namespace dct
