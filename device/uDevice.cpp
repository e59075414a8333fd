#include "device/uDevice.h"

#include <exception>
#include <memory>
#include <string>
#include <utility>

#include "buffer/SQLite3.h"
#include "buffer/uDataBuffer.h"
#include "device/uEquipmentErrors.h"

namespace dct {

namespace {

// Latin letters compare without case; every other byte (Cyrillic included) exactly.
bool SameCommandName(const std::string& a, const std::string& b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    unsigned char x = a[i], y = b[i];
    if (x >= 'a' && x <= 'z') x -= 'a' - 'A';
    if (y >= 'a' && y <= 'z') y -= 'a' - 'A';
    if (x != y) return false;
  }
  return true;
}

}  // namespace

// ---------------------------------------------------------------------------------------
// The device object.

TDevice::TDevice(TDeviceContext& Context) : FContext(Context), FDataBuffer(std::make_unique<TDataBuffer>()) {
  FDataBuffer->SetDBID(DeviceID());
  RegisterSvcMethods();
  FContext.RegisterDevice(this);
}

TDevice::~TDevice() {
  FContext.UnregisterDevice(this);
  Disable();
}

std::string TDevice::DeviceID() const {
  std::lock_guard<std::mutex> guard(FSettingsLock);
  return FDeviceID;
}
void TDevice::SetDeviceID(const std::string& id) {
  std::lock_guard<std::mutex> guard(FSettingsLock);
  FDeviceID = id;
}
std::string TDevice::AppName() const {
  std::lock_guard<std::mutex> guard(FSettingsLock);
  return FAppName;
}
void TDevice::SetAppName(const std::string& v) {
  std::lock_guard<std::mutex> guard(FSettingsLock);
  FAppName = v;
}
std::string TDevice::AppVersion() const {
  std::lock_guard<std::mutex> guard(FSettingsLock);
  return FAppVersion;
}
void TDevice::SetAppVersion(const std::string& v) {
  std::lock_guard<std::mutex> guard(FSettingsLock);
  FAppVersion = v;
}

void TDevice::AddSvcMethod(const std::string& Name, TSvcMethod Method) {
  FSvcMethodList.push_back(TSvcMethodStruct{Name, std::move(Method)});
}

void TDevice::RegisterSvcMethods() {
  using Handler = int (TDevice::*)(const Variant&, Variant&);
  const std::pair<const char*, Handler> table[] = {
      {"Echo", &TDevice::Echo},
      {"CheckIn", &TDevice::CheckIn},
      {"DownloadItems", &TDevice::DownloadItems},
      {"ClearData", &TDevice::ClearData},
      {"GetItemInfo", &TDevice::GetItemInfo},
      {"GetDocuments", &TDevice::GetDocuments},
      {"PushDocumentData", &TDevice::PushDocumentData},
      {"SaveItemsToBuff", &TDevice::SaveItemsToBuff},
      {"ReadDocFromBuff", &TDevice::ReadDocFromBuff},
      {"ReadDocsHeadersFromBuff", &TDevice::ReadDocsHeadersFromBuff},
      {"DeleteDocFromBuffer", &TDevice::DeleteDocFromBuffer},
      {"ClearItemsFromBuffer", &TDevice::ClearItemsFromBuffer},
  };
  for (const auto& entry : table) {
    // Captured by name: clang 14 (the fuzz build) cannot capture a structured binding.
    const Handler handler = entry.second;
    AddSvcMethod(entry.first,
                 [this, handler](const Variant& in, Variant& out) { return (this->*handler)(in, out); });
  }
}

int TDevice::FindSvcMethod(const std::string& Name) const {
  for (size_t i = 0; i < FSvcMethodList.size(); ++i) {
    if (SameCommandName(FSvcMethodList[i].Name, Name)) return static_cast<int>(i);
  }
  return -1;
}

int TDevice::ExecuteCommand(const std::string& CommandName, const Variant& InputParameters,
                            Variant& OutputParameters, std::string& ResultDescription) {
  OutputParameters.Clear();
  ResultDescription.clear();
  FResultDescription.clear();
  int result = rcOK;
  const int index = FindSvcMethod(CommandName);
  if (index < 0) {
    result = rcUnknownCommand;
  } else {
    OutputParameters.Clear();
    try {
      result = FSvcMethodList[index].Method(InputParameters, OutputParameters);
    } catch (const std::exception& e) {
      result = rcUnknownError;
      FResultDescription = e.what();
    } catch (...) {
      result = rcUnknownError;
      FResultDescription = "Unknown exception";
    }
  }
  ResultDescription = GetResultDescription(result);
  return result;
}

std::string TDevice::GetResultDescription(int ResultCode) const {
  if (ResultCode == rcUnknownError) return FResultDescription;
  return GetDeviceErrorDescription(ResultCode);
}

// ---------------------------------------------------------------------------------------
// Enabling.

int TDevice::Enable() {
  Disable();
  FDataBuffer->SetDBID(DeviceID());
  // The engine is bound once per process; a missing one means nothing can be opened. One
  // that is there but unusable is a failure with the loader's text, not "not found".
  try {
    if (!SQLiteLibraryLoaded() && !LoadSQLiteLibrary(GetSQLiteLibraryName())) return rcLibraryNotFound;
  } catch (const ESQLiteException& e) {
    FResultDescription = e.what();
    return rcUnknownError;
  }
  const int result = FDataBuffer->Enable();
  if (result == rcOK) FContext.StartListener();  // a raise leaves the device disabled, uncounted
  FEnabled.store(result == rcOK);
  FResultDescription = FDataBuffer->ResultDescription();
  return result;
}

void TDevice::Disable() {
  if (FEnabled.exchange(false)) {
    // Refuse new commands first (Enabled is false), then let the listener end its
    // connections; a command still running finishes before the buffer closes.
    FContext.StopListener();
    std::lock_guard<std::mutex> guard(FContext.CommandLock());
    FDataBuffer->Disable();
  }
}

std::string TDevice::StartWarning() const {
  return FEnabled.load() ? FDataBuffer->OpenWarning() : std::string();
}

void TDevice::TakeBufferDescription() { FResultDescription = FDataBuffer->ResultDescription(); }

void TDevice::NoteNow(std::atomic<int64_t>& When) {
  using namespace std::chrono;
  When.store(duration_cast<milliseconds>(system_clock::now().time_since_epoch()).count());
}

std::chrono::system_clock::time_point TDevice::LastCatalogueLoad() const {
  return std::chrono::system_clock::time_point(std::chrono::milliseconds(FLastCatalogueLoad.load()));
}

std::chrono::system_clock::time_point TDevice::LastDocumentPush() const {
  return std::chrono::system_clock::time_point(std::chrono::milliseconds(FLastDocumentPush.load()));
}

// ---------------------------------------------------------------------------------------
// Typed buffer operations.

int TDevice::SaveItemsToBuff(uint8_t Mode, const TItemsArray& Items) {
  // Mode 0 replaces the catalogue; the buffer clears and stores in one transaction so that
  // a failed load leaves the old catalogue whole.
  const int result = FDataBuffer->SaveItems(Items, /*ReplaceAll=*/Mode == 0);
  TakeBufferDescription();
  if (result == rcOK) NoteNow(FLastCatalogueLoad);
  return result;
}

int TDevice::ClearItemsFromBuffer() {
  const int result = FDataBuffer->ClearItems();
  TakeBufferDescription();
  return result;
}

int TDevice::SaveDocToBuff(const TDocument& Doc, bool Update) {
  // Without Update the document is replaced whole; the buffer drops the old rows in the
  // same transaction as the save, so a failed save does not lose the stored document.
  const int result = FDataBuffer->SaveDoc(Doc, /*ReplaceAll=*/!Update);
  TakeBufferDescription();
  return result;
}

int TDevice::ReadDocFromBuff(const TStringArray& Ids, TDocument& Doc) {
  const int result = FDataBuffer->ReadDoc(Ids, Doc);
  TakeBufferDescription();
  return result;
}

int TDevice::ReadDocsHeadersFromBuff(int DocSource, TDocuments& Docs) {
  Docs.clear();
  const int result = FDataBuffer->ReadDocsHeaders(DocSource, Docs);
  TakeBufferDescription();
  return result;
}

int TDevice::GetBuffDocCount(int DocSource, int& DocCount) {
  int32_t count = 0;
  const int result = FDataBuffer->GetDocsCount(DocSource, count);
  TakeBufferDescription();
  if (result == rcOK) DocCount = count;
  return result;
}

int TDevice::DeleteDocFromBuffer(const TStringArray& Ids) {
  const int result = FDataBuffer->DeleteDoc(Ids);
  TakeBufferDescription();
  return result;
}

int TDevice::ClearDocsFromBuffer() {
  const int result = FDataBuffer->ClearDocs(-1);
  TakeBufferDescription();
  return result;
}

}  // namespace dct
