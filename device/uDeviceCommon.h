// The exchange records shared by the commands and the data buffer, their positional value
// layouts, and the command table types. This is vocabulary only: it must not include uDevice.
//
// Value layouts (all arrays 0-based):
//   item row       11 positions: 0 Barcode .. 5 Quality (strings), 6 Price (currency),
//                  7 Quantity (double), 8..10 UseSerialNum, UseWeight, UseFractValue (booleans)
//   item table     items x 11
//   row table      rows x 3: Barcode, Quantity, SerialNum
//   document value [DocumentID, DocumentType (byte), Source (byte), Description, row table]
//   document table documents x 5, as the document value
//   ID list        one-dimensional array of identifiers
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "values/Variant.h"

namespace dct {

struct TItemRec {
  std::string Barcode;
  std::string Name;
  std::string UnitName;
  std::string AdditioanalData;  // the system's own spelling
  std::string Series;
  std::string Quality;
  Currency Price;
  double Quantity = 0;
  bool UseSerialNum = false;
  bool UseWeight = false;
  bool UseFractValue = false;
};

struct TDocRow {
  std::string Barcode;
  double Quantity = 0;
  std::string SerialNum;  // empty when the row carries no serial number
};

struct TDocument {
  std::string DocumentID;
  uint8_t DocumentType = 0;
  uint8_t Source = 0;  // 0: for the terminals; 1: pushed by a terminal
  std::string Description;
  std::vector<TDocRow> Rows;
};

using TItemsArray = std::vector<TItemRec>;
using TDocRows = std::vector<TDocRow>;
using TDocuments = std::vector<TDocument>;
using TStringArray = std::vector<std::string>;

// Host callbacks for on-line mode; 0 means found / accepted.
using TGetItemInfo = std::function<int(const std::string& Barcode, TItemRec& Item)>;
using TSetDocumentInfo = std::function<int(const std::string& DocID, int DocType, std::string& Description)>;

// Command table: a handler bound to its device.
using TSvcMethod = std::function<int(const Variant& InputParameters, Variant& OutputParameters)>;
struct TSvcMethodStruct {
  std::string Name;
  TSvcMethod Method;
};
using TSvcMethodArray = std::vector<TSvcMethodStruct>;

// Reading conversions raise on malformed input (the command answers 1004).
TItemsArray VariantToItemsArray(const Variant& value);
// The same one row at a time, for tables too large to hold twice. ItemTableRows gives the
// number of items and sets low to the first row's index; VariantToItem reads that row into
// item, reusing item's buffers. Both raise where VariantToItemsArray does.
int ItemTableRows(const Variant& value, int& low);
void VariantToItem(const Variant& table, int row, TItemRec& item);
TStringArray VariantToStringArray(const Variant& value);
// The item table of items (n x 11), as SaveItemsToBuff reads it.
Variant ItemsToVariant(const TItemsArray& items);
Variant DocumentToVariant(const TDocument& doc);
Variant DocumentsToVariant(const TDocuments& docs);
Variant DocRowsToVariant(const TDocRows& rows);  // m x 3 row table

}  // namespace dct
