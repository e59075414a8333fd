// What the fuzz targets share: a check that stops the run, the checks every answer must
// pass, and the real service over a device of its own.
//
// A failed check aborts with a message on standard error: libFuzzer then keeps the input as
// a reproducer, and the replay test of the normal build fails on it.
#pragma once

#include <memory>
#include <string>
#include <string_view>

#include "device/uDeviceContext.h"
#include "service/uSvcIntf.h"
#include "service/uWebTypes.h"

namespace dct::fuzz {

[[noreturn]] void Fail(const char* what, std::string_view detail = {});

#define DCT_FUZZ_CHECK(condition, detail)                      \
  do {                                                         \
    if (!(condition)) ::dct::fuzz::Fail(#condition, (detail)); \
  } while (false)

// Text a client's XML parser accepts: XML characters in well-formed UTF-8, one well-formed
// document (pugixml's reading of it).
void CheckXMLDocument(std::string_view text);

// An answer of the SOAP endpoint: a well-formed envelope, and when it carries
// OutputParameters, value text that the value reader takes back.
void CheckSOAPAnswer(const TWebResponse& answer);

// The real service (TMobileDCT) over the single device, enabled on a data root of its own
// below a temporary folder (removed at exit), with no listener behind it.
class TFuzzService {
 public:
  // The process-wide instance, created on first use.
  static TFuzzService& Instance();

  // A new TMobileDCT for one call, as the web module's factory makes them.
  std::unique_ptr<IMobileDCT> NewMobileDCT();

  // Puts the device back as it was first enabled (its settings, and an empty buffer), so
  // that one input never sees what another left.
  void Reset();

  ~TFuzzService();

 private:
  TFuzzService();
  std::string FRoot;
  TDeviceContext FContext;
  // The settings a new device starts with.
  std::string FDeviceID, FAppName, FAppVersion;
  bool FAutoClearDocs = false, FAutoClearItems = false;
  int FChangedRows = 0;  // the connection's count of changed rows after the last Reset
};

}  // namespace dct::fuzz
