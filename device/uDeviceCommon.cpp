#include "device/uDeviceCommon.h"

namespace dct {
namespace {

constexpr int kItemPositions = 11;
constexpr int kRowPositions = 3;
constexpr int kDocumentPositions = 5;

[[noreturn]] void RaiseNotArray() {
  throw EVariantError(EVariantError::TKind::TypeMismatch, "value is not an array");
}

}  // namespace

int ItemTableRows(const Variant& value, int& low) {
  if (!value.IsArray()) RaiseNotArray();
  const int n = value.Length(1);
  low = value.LowBound(1);
  if (n <= 0) return 0;  // an empty table is an empty list, whatever its shape
  if (value.DimCount() != 2) {
    throw EVariantError(EVariantError::TKind::BadIndex, "item table is not two-dimensional");
  }
  return n;
}

void VariantToItem(const Variant& table, int row, TItemRec& item) {
  // Text cells are copied into the buffers item already has; other kinds convert.
  auto text = [&](int position, std::string& out) {
    const Variant& cell = table.At(row, position);
    if (cell.VarType() == varOleStr) {
      out.assign(cell.StringValue());
    } else {
      out = cell.ToText();
    }
  };
  // At() raises when a row has no position 10; positions beyond 10 are never read.
  text(0, item.Barcode);
  text(1, item.Name);
  text(2, item.UnitName);
  text(3, item.AdditioanalData);
  text(4, item.Series);
  text(5, item.Quality);
  item.Price = table.At(row, 6).ToCurrency();
  item.Quantity = table.At(row, 7).ToDouble();
  item.UseSerialNum = table.At(row, 8).ToBoolean();
  item.UseWeight = table.At(row, 9).ToBoolean();
  item.UseFractValue = table.At(row, 10).ToBoolean();
}

TItemsArray VariantToItemsArray(const Variant& value) {
  int low = 0;
  const int n = ItemTableRows(value, low);
  TItemsArray items(static_cast<size_t>(n));
  for (int k = 0; k < n; ++k) VariantToItem(value, low + k, items[k]);
  return items;
}

TStringArray VariantToStringArray(const Variant& value) {
  if (!value.IsArray()) RaiseNotArray();  // a single string is not an ID list
  const int n = value.Length(1);
  TStringArray ids;
  if (n <= 0) return ids;
  ids.reserve(n);
  const int low = value.LowBound(1);
  // One index per element: a two-dimensional list with rows fails here.
  for (int k = 0; k < n; ++k) ids.push_back(value.At(low + k).ToText());
  return ids;
}

Variant ItemsToVariant(const TItemsArray& items) {
  const int n = static_cast<int>(items.size());
  Variant table = Variant::CreateArray({{0, n - 1}, {0, kItemPositions - 1}});
  for (int i = 0; i < n; ++i) {
    const TItemRec& item = items[i];
    table.Ref(i, 0) = Variant::FromString(item.Barcode);
    table.Ref(i, 1) = Variant::FromString(item.Name);
    table.Ref(i, 2) = Variant::FromString(item.UnitName);
    table.Ref(i, 3) = Variant::FromString(item.AdditioanalData);
    table.Ref(i, 4) = Variant::FromString(item.Series);
    table.Ref(i, 5) = Variant::FromString(item.Quality);
    table.Ref(i, 6) = Variant::FromCurrency(item.Price);
    table.Ref(i, 7) = Variant::FromDouble(item.Quantity);
    table.Ref(i, 8) = Variant::FromBoolean(item.UseSerialNum);
    table.Ref(i, 9) = Variant::FromBoolean(item.UseWeight);
    table.Ref(i, 10) = Variant::FromBoolean(item.UseFractValue);
  }
  return table;
}

Variant DocRowsToVariant(const TDocRows& rows) {
  Variant table = Variant::CreateArray({{0, static_cast<int>(rows.size()) - 1}, {0, kRowPositions - 1}});
  for (int i = 0; i < static_cast<int>(rows.size()); ++i) {
    table.Ref(i, 0) = Variant::FromString(rows[i].Barcode);
    table.Ref(i, 1) = Variant::FromDouble(rows[i].Quantity);
    table.Ref(i, 2) = Variant::FromString(rows[i].SerialNum);
  }
  return table;
}

Variant DocumentToVariant(const TDocument& doc) {
  std::vector<Variant> v;
  v.reserve(kDocumentPositions);
  v.push_back(Variant::FromString(doc.DocumentID));
  v.push_back(Variant::FromByte(doc.DocumentType));
  v.push_back(Variant::FromByte(doc.Source));
  v.push_back(Variant::FromString(doc.Description));
  v.push_back(DocRowsToVariant(doc.Rows));
  return Variant::ArrayOf(std::move(v));
}

Variant DocumentsToVariant(const TDocuments& docs) {
  const int n = static_cast<int>(docs.size());
  Variant table = Variant::CreateArray({{0, n - 1}, {0, kDocumentPositions - 1}});
  for (int i = 0; i < n; ++i) {
    const TDocument& doc = docs[i];
    table.Ref(i, 0) = Variant::FromString(doc.DocumentID);
    table.Ref(i, 1) = Variant::FromByte(doc.DocumentType);
    table.Ref(i, 2) = Variant::FromByte(doc.Source);
    table.Ref(i, 3) = Variant::FromString(doc.Description);
    table.Ref(i, 4) = DocRowsToVariant(doc.Rows);
  }
  return table;
}

}  // namespace dct
