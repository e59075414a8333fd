// The twelve command handlers of TDevice. They read the positional input value (a malformed
// one is 1004 before anything is touched), call the buffer or the host's callback, and build
// the positional answer; dispatch and the command table stay in uDevice.cpp.
#include "device/uDevice.h"

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "buffer/uDataBuffer.h"
#include "device/uEquipmentErrors.h"

namespace dct {

namespace {

constexpr int kItemPositions = 11;
constexpr int kItemAnswerPositions = 12;
constexpr int kGetDocumentsPositions = 4;

// Fills row i of an item table, or positions 0..10 of a one-dimensional item answer.
template <typename Put>
void PutItemPositions(const TItemRec& item, Put put) {
  put(0, Variant::FromString(item.Barcode));
  put(1, Variant::FromString(item.Name));
  put(2, Variant::FromString(item.UnitName));
  put(3, Variant::FromString(item.AdditioanalData));
  put(4, Variant::FromString(item.Series));
  put(5, Variant::FromString(item.Quality));
  put(6, Variant::FromCurrency(item.Price));
  put(7, Variant::FromDouble(item.Quantity));
  put(8, Variant::FromBoolean(item.UseSerialNum));
  put(9, Variant::FromBoolean(item.UseWeight));
  put(10, Variant::FromBoolean(item.UseFractValue));
}

Variant OneElement(Variant value) {
  std::vector<Variant> v;
  v.push_back(std::move(value));
  return Variant::ArrayOf(std::move(v));
}

uint8_t LowByte(int32_t value) { return static_cast<uint8_t>(value & 0xFF); }

// The input's last index, or -1 when it is not an array.
int LastPosition(const Variant& in) { return in.IsArray() ? in.HighBound(1) : -1; }

}  // namespace

// ---------------------------------------------------------------------------------------
// The device's own commands.

int TDevice::Echo(const Variant& In, Variant& Out) {
  Out = In;
  return rcOK;
}

int TDevice::CheckIn(const Variant&, Variant& Out) {
  const int n = static_cast<int>(FSvcMethodList.size());
  Variant names = Variant::CreateArray({{0, n - 1}}, varOleStr);
  for (int i = 0; i < n; ++i) names.Put(i, Variant::FromString(FSvcMethodList[i].Name));
  std::vector<Variant> answer;
  answer.push_back(Variant::FromString(AppName()));
  answer.push_back(Variant::FromString(AppVersion()));
  answer.push_back(std::move(names));
  Out = Variant::ArrayOf(std::move(answer));
  return rcOK;
}

// ---------------------------------------------------------------------------------------
// Catalogue commands.

int TDevice::SaveItemsToBuff(const Variant& In, Variant&) {
  uint8_t mode;
  int n, low;
  try {
    mode = LowByte(In.At(0).ToInteger());
    n = ItemTableRows(In.At(1), low);
    // Every row is read once before anything is stored, so that a bad cell anywhere is
    // 1004 with the buffer untouched; the rows are read again as they are stored, instead
    // of being held as records beside the table they come from.
    TItemRec item;
    for (int k = 0; k < n; ++k) VariantToItem(In.At(1), low + k, item);
  } catch (const EVariantError&) {
    return rcBadInput;
  }
  const Variant& table = In.At(1);
  const int result = FDataBuffer->SaveItems(
      static_cast<size_t>(n),
      [&](size_t k, TItemRec& item) { VariantToItem(table, low + static_cast<int>(k), item); },
      /*ReplaceAll=*/mode == 0);
  TakeBufferDescription();
  if (result == rcOK) NoteNow(FLastCatalogueLoad);
  return result;
}

int TDevice::DownloadItems(const Variant&, Variant& Out) {
  // The table is filled straight from the stored rows: no records beside it.
  Variant table;
  int i = 0;
  const int result = FDataBuffer->ReadItems(
      [&](size_t n) {
        table = Variant::CreateArray({{0, static_cast<int>(n) - 1}, {0, kItemPositions - 1}});
      },
      [&](TItemRec& item) {
        PutItemPositions(item, [&](int j, Variant v) { table.Ref(i, j) = std::move(v); });
        ++i;
      });
  TakeBufferDescription();
  if (result != rcOK) return result;
  Out = OneElement(std::move(table));

  // The catalogue lasts for one download; the emptying changes neither result nor answer.
  if (AutoClearItems()) FDataBuffer->ClearItems();
  return rcOK;
}

int TDevice::ClearItemsFromBuffer(const Variant&, Variant&) { return ClearItemsFromBuffer(); }

int TDevice::GetItemInfo(const Variant& In, Variant& Out) {
  int32_t online;
  std::string barcode, docId, serial;
  try {
    online = In.At(0).ToInteger();
    barcode = In.At(1).ToText();
    const int last = LastPosition(In);
    if (last >= 2) docId = In.At(2).ToTextOrEmpty();
    if (last >= 3) serial = In.At(3).ToTextOrEmpty();
  } catch (const EVariantError&) {
    return rcBadInput;
  }

  // This command never takes over the buffer's error text.
  TItemRec item;
  int result;
  if (online == 0) {
    result = FDataBuffer->ReadItem(barcode, item);
  } else {
    if (!OnGetItemInfo) return rcNotSupported;
    result = OnGetItemInfo(barcode, item);
  }
  if (result != rcOK) return result;

  double quantityInDoc = 0;
  if (!docId.empty()) {
    TDocRow row;
    result = FDataBuffer->ReadDocRow(docId, barcode, serial, row);
    if (result != rcOK) return result;
    quantityInDoc = row.Quantity;
  }

  Variant answer = Variant::CreateArray({{0, kItemAnswerPositions - 1}});
  PutItemPositions(item, [&](int j, Variant v) { answer.Ref(j) = std::move(v); });
  answer.Ref(11) = Variant::FromDouble(quantityInDoc);
  Out = OneElement(std::move(answer));
  return rcOK;
}

// ---------------------------------------------------------------------------------------
// Document commands.

int TDevice::PushDocumentData(const Variant& In, Variant& Out) {
  TDocument doc;
  uint8_t online;
  try {
    doc.DocumentID = In.At(0).ToText();
    doc.DocumentType = LowByte(In.At(1).ToInteger());
    doc.Description = In.At(4).ToText();
    online = LowByte(In.At(2).ToInteger());
    const Variant& rows = In.At(3);
    if (!rows.IsArray()) {
      throw EVariantError(EVariantError::TKind::TypeMismatch, "row table is not an array");
    }
    const int n = rows.Length(1);
    if (n > 0) {
      const int low = rows.LowBound(1);
      doc.Rows.resize(n);
      for (int k = 0; k < n; ++k) {
        TDocRow& row = doc.Rows[k];
        row.Barcode = rows.At(low + k, 0).ToText();
        row.Quantity = rows.At(low + k, 1).ToDouble();
        row.SerialNum = rows.At(low + k, 2).ToText();
      }
    }
  } catch (const EVariantError&) {
    return rcBadInput;
  }
  doc.Source = 1;

  int result = FDataBuffer->SaveDoc(doc);
  TakeBufferDescription();
  if (result != rcOK) return result;
  NoteNow(FLastDocumentPush);  // stored, whatever the online callback answers

  if (online == 0) {
    Out = OneElement(Variant::FromString(doc.Description));
    return rcOK;
  }
  if (!OnSetDocumentInfo) return rcNotSupported;  // the document stays stored
  std::string description;
  result = OnSetDocumentInfo(doc.DocumentID, doc.DocumentType, description);
  if (result == rcOK) Out = OneElement(Variant::FromString(description));
  return result;
}

int TDevice::GetDocuments(const Variant&, Variant& Out) {
  TDocuments docs;
  const int result = FDataBuffer->ReadDocs(0, docs);
  TakeBufferDescription();
  if (result != rcOK) return result;

  const int n = static_cast<int>(docs.size());
  Variant table = Variant::CreateArray({{0, n - 1}, {0, kGetDocumentsPositions - 1}});
  for (int i = 0; i < n; ++i) {
    table.Ref(i, 0) = Variant::FromString(docs[i].DocumentID);
    table.Ref(i, 1) = Variant::FromByte(docs[i].DocumentType);
    table.Ref(i, 2) = DocRowsToVariant(docs[i].Rows);
    table.Ref(i, 3) = Variant::FromString(docs[i].Description);
  }
  Out = OneElement(std::move(table));
  return rcOK;
}

int TDevice::ReadDocFromBuff(const Variant& In, Variant& Out) {
  TStringArray ids;
  try {
    ids = VariantToStringArray(In.At(0));
  } catch (const EVariantError&) {
    return rcBadInput;
  }
  TDocument doc;
  const int result = ReadDocFromBuff(ids, doc);
  if (result == rcOK) Out = OneElement(DocumentToVariant(doc));
  return result;
}

int TDevice::ReadDocsHeadersFromBuff(const Variant& In, Variant& Out) {
  int32_t source;
  try {
    source = In.At(0).ToInteger();
  } catch (const EVariantError&) {
    return rcBadInput;
  }
  TDocuments docs;
  const int result = ReadDocsHeadersFromBuff(source, docs);
  if (result == rcOK) Out = OneElement(DocumentsToVariant(docs));
  return result;
}

int TDevice::DeleteDocFromBuffer(const Variant& In, Variant&) {
  TStringArray ids;
  try {
    ids = VariantToStringArray(In.At(0));
  } catch (const EVariantError&) {
    return rcBadInput;
  }
  return DeleteDocFromBuffer(ids);
}

int TDevice::ClearData(const Variant& In, Variant&) {
  uint8_t scope;
  std::string docId;
  try {
    scope = LowByte(In.At(0).ToInteger());
    if (LastPosition(In) >= 1) docId = In.At(1).ToTextOrEmpty();
  } catch (const EVariantError&) {
    return rcBadInput;
  }
  // Scope 0: the catalogue and the documents; any other: the documents only. The
  // identifier narrows the documents, never the catalogue.
  int result = rcOK;
  if (scope == 0) {
    result = FDataBuffer->ClearItems();
    if (result != rcOK) {
      TakeBufferDescription();
      return result;
    }
  }
  result = docId.empty() ? FDataBuffer->ClearDocs(-1) : FDataBuffer->DeleteDoc({docId});
  TakeBufferDescription();
  return result;
}

}  // namespace dct
