#include "device/uDeviceCommon.h"

namespace dct {
namespace {

constexpr int kRowPositions = 3;
constexpr int kDocumentPositions = 5;

[[noreturn]] void RaiseNotArray() {
  throw EVariantError(EVariantError::Kind::TypeMismatch, "value is not an array");
}

}  // namespace

TItemsArray VariantToItemsArray(const Variant& value) {
  if (!value.IsArray()) RaiseNotArray();
  const int n = value.Length(1);
  TItemsArray items;
  if (n <= 0) return items;  // an empty table is an empty list, whatever its shape
  if (value.DimCount() != 2) {
    throw EVariantError(EVariantError::Kind::BadIndex, "item table is not two-dimensional");
  }
  items.resize(n);
  const int low = value.LowBound(1);
  for (int k = 0; k < n; ++k) {
    const int row = low + k;
    TItemRec& item = items[k];
    // At() raises when a row has no position 10; positions beyond 10 are never read.
    item.Barcode = value.At(row, 0).ToText();
    item.Name = value.At(row, 1).ToText();
    item.UnitName = value.At(row, 2).ToText();
    item.AdditioanalData = value.At(row, 3).ToText();
    item.Series = value.At(row, 4).ToText();
    item.Quality = value.At(row, 5).ToText();
    item.Price = value.At(row, 6).ToCurrency();
    item.Quantity = value.At(row, 7).ToDouble();
    item.UseSerialNum = value.At(row, 8).ToBoolean();
    item.UseWeight = value.At(row, 9).ToBoolean();
    item.UseFractValue = value.At(row, 10).ToBoolean();
  }
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

std::string SQLTextLiteral(const std::string& text) {
  std::string out;
  out.reserve(text.size() + 2);
  out.push_back('\'');
  for (char ch : text) {
    if (ch == '\'') out.push_back('\'');  // doubling is SQL's only escape inside a literal
    out.push_back(ch);
  }
  out.push_back('\'');
  return out;
}

std::string StringArrayToSQLList(const TStringArray& ids) {
  std::string out;
  for (size_t i = 0; i < ids.size(); ++i) {
    if (i > 0) out += ", ";
    out += SQLTextLiteral(ids[i]);
  }
  return out;
}

}  // namespace dct
