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
  rcOK = 0,
  rcNotEnabled = 70,
  rcUnknownError = 1001,
  rcUnknownCommand = 1002,
  rcNotSupported = 1003,
  rcBadInput = 1004,
  rcLibraryNotFound = 1006,
  rcDeviceNotFound = 1013,
  rcItemNotFound = 6501,
  rcDocNotFound = 6502,
  rcNoDocs = 6507,
};

// Text unchanged when not empty; otherwise the general table's text.
std::string GetEquipmentErrorDescription(int Code, const std::string& Text);
// The device table for 6501..7000; the general table for every other code.
std::string GetDeviceErrorDescription(int Code);

}  // namespace dct
