// Result codes and their Russian descriptions: one fixed vocabulary for every kind of
// equipment. Only some codes are produced by this server; every code still gets its text.
//
// Precedence for a description that reaches a client: a non-empty text produced with the
// code, then the device table (6501..7000), then the general table, then
// "Неизвестная ошибка".
#pragma once

#include <string>

namespace dct {

// Codes this server produces.
enum : int {
  RC_OK = 0,
  RC_NOT_ENABLED = 70,
  RC_UNKNOWN_ERROR = 1001,
  RC_UNKNOWN_COMMAND = 1002,
  RC_NOT_SUPPORTED = 1003,
  RC_BAD_INPUT = 1004,
  RC_LIBRARY_NOT_FOUND = 1006,
  RC_DEVICE_NOT_FOUND = 1013,
  RC_ITEM_NOT_FOUND = 6501,
  RC_DOC_NOT_FOUND = 6502,
  RC_NO_DOCS = 6507,
};

// Text unchanged when not empty; otherwise the general table's text.
std::string GetEquipmentErrorDescription(int Code, const std::string& Text);
// The device table for 6501..7000; the general table for every other code.
std::string GetDeviceErrorDescription(int Code);

}  // namespace dct
