// Fuzz target: a request body inflated as the listener will inflate it (TBodyInflater with a
// limit, fed in pieces), and the header values that choose the coding.
//
// Input: byte 0 picks the coding (bit 0: gzip or deflate) and the limit (the other bits, in
// KiB); byte 1 the piece size less one; the rest is the body. Checks: the output never
// passes the limit and is exactly what Produced reports; the status does not depend on how the
// body was cut (fed whole and in pieces); a sound body's output survives a gzip round trip.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/FuzzSupport.h"
#include "service/HTTPContentCoding.h"

namespace dct::fuzz {
namespace {

struct TResult {
  TInflateStatus Status;
  std::string Out;
};

TResult Inflate(TContentCoding coding, std::string_view body, size_t piece, size_t limit) {
  TBodyInflater inflater(coding, limit);
  TResult r{TInflateStatus::Ok, {}};
  for (size_t at = 0; at < body.size() && r.Status == TInflateStatus::Ok; at += piece) {
    r.Status = inflater.Feed(body.substr(at, piece), r.Out);
    DCT_FUZZ_CHECK(r.Out.size() == inflater.Produced(), "Produced is not what was appended");
    DCT_FUZZ_CHECK(inflater.Produced() <= limit, "output past the limit");
  }
  if (r.Status == TInflateStatus::Ok) r.Status = inflater.Finish();
  return r;
}

}  // namespace
}  // namespace dct::fuzz

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace dct;
  using namespace dct::fuzz;
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  // The header readers take any text; what they say is checked by the unit's own tests.
  (void)AcceptsGzip(input);
  (void)ParseContentEncoding(input);
  if (size < 2) return 0;

  const TContentCoding coding = (data[0] & 1) ? TContentCoding::Gzip : TContentCoding::Deflate;
  const size_t limit = static_cast<size_t>(data[0] >> 1) * 1024;
  const size_t piece = static_cast<size_t>(data[1]) + 1;
  const std::string_view body = input.substr(2);

  const TResult pieces = Inflate(coding, body, piece, limit);
  const TResult whole = Inflate(coding, body, body.size() + 1, limit);
  DCT_FUZZ_CHECK(pieces.Status == whole.Status, "the status depends on where the body was cut");
  if (whole.Status == TInflateStatus::Ok || whole.Status == TInflateStatus::TrailingData) {
    DCT_FUZZ_CHECK(pieces.Out == whole.Out, "the output depends on where the body was cut");
  }
  if (whole.Status == TInflateStatus::Ok) {
    const TResult again = Inflate(TContentCoding::Gzip, GzipCompress(whole.Out), 4096, whole.Out.size());
    DCT_FUZZ_CHECK(again.Status == TInflateStatus::Ok && again.Out == whole.Out, "gzip round trip");
  }
  return 0;
}
