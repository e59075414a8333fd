// HTTP content codings: gzip answers, and request bodies inflated within a limit.
//
// Three jobs, no socket and no OS call: compress a whole answer to gzip; inflate a request
// body that arrives in pieces, never holding more output than the caller allows; and read
// the two headers that decide either (Accept-Encoding, Content-Encoding). The listener owns
// the policy (threshold, statuses, budget); this unit only tells it what the bytes are.
#pragma once

#include <cstddef>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <string_view>

namespace dct {

// The level answers are compressed at, chosen on the 100,000-item catalogue answer
// (bench/content_coding_bench.cpp, 41 MB): 17x in 0.33 s of CPU, where level 1 gives 11x in
// 0.1 s. Terminals wait on Wi-Fi, where the smaller answer arrives first: at 20 Mbit/s about
// 1.4 s against 1.8 s to the last byte, at 2 Mbit/s 11 s against 17 s. Levels 7-9 cost two to
// four times the CPU for at most 15% fewer bytes.
inline constexpr int kGzipLevel = 6;

// A gzip stream (one member, no file name, no time stamp) of data at level (1..9; 0 stores).
// Raises std::bad_alloc when memory runs out, std::invalid_argument for a level outside 0..9.
// Besides the result it holds about 270 KiB of compressor state while it runs.
std::string GzipCompress(std::string_view data, int level = kGzipLevel);

// The compressor's own state at kGzipLevel's settings: zlib's 256 KiB window and hash
// tables, and its smaller objects.
inline constexpr size_t kGzipStateBytes = 270 << 10;

// As GzipCompress, but asks room(bytes) before each allocation it makes: kGzipStateBytes
// first, then every growth of the output and the final fitted copy. When room says no to
// the state or a growth it gives up, frees what it took and returns nothing (a refused fitted
// copy only leaves the output unfitted). The caller gives back whatever room allowed.
std::optional<std::string> GzipCompressWithin(std::string_view data, int level,
                                              const std::function<bool(size_t bytes)>& room);

// Whether an Accept-Encoding value lets an answer go out as gzip: gzip or x-gzip listed
// with a q-value above 0, or else "*" with a q-value above 0. Tokens and parameter names in
// any letter case; an element whose q-value cannot be read is ignored. An empty value (and so
// an absent header) or "identity" alone is no.
bool AcceptsGzip(std::string_view acceptEncoding);

// The content coding of a request body, from its Content-Encoding value.
enum class TContentCoding {
  Identity,  // absent, empty, or identity only
  Gzip,      // gzip or x-gzip
  Deflate,   // deflate: zlib-wrapped, or raw as some clients send it
  Unknown,   // anything else, two codings stacked included: the listener answers 415
};
// Tokens in any letter case; "identity" elements in a list are ignored.
TContentCoding ParseContentEncoding(std::string_view contentEncoding);

enum class TInflateStatus {
  Ok,            // everything so far is sound (after Finish: the body is complete)
  TooLarge,      // the output would pass the limit: 413
  Truncated,     // the body ended inside the stream: 400
  Corrupt,       // not a stream of this coding, or a failed check (CRC, length, adler): 400
  TrailingData,  // bytes after the end of the stream: 400
};

// Inflates one request body, fed in the pieces the socket gives.
//
// gzip: one member or several concatenated (as gzip itself writes and reads them), each
// checked against its CRC and length; anything after a member that does not begin another
// member is TrailingData. deflate: the first two bytes decide between a zlib stream (header
// check passes) and raw deflate; one stream, then nothing.
//
// Invariant: Produced() <= limit, always. Output that would pass the limit is never appended,
// so a bomb costs at most the inflater's own state (about 40 KiB) and one chunk of 64 KiB.
// After a status other than Ok, every later call returns that same status and appends nothing.
class TBodyInflater {
 public:
  // REQUIRES: coding is Gzip or Deflate.
  TBodyInflater(TContentCoding coding, size_t limit);
  ~TBodyInflater();
  TBodyInflater(const TBodyInflater&) = delete;
  TBodyInflater& operator=(const TBodyInflater&) = delete;

  // Inflates piece and appends what it gives to out (what out held before is kept).
  // Raises std::bad_alloc when memory runs out.
  TInflateStatus Feed(std::string_view piece, std::string& out);
  // The body has ended: Truncated unless it ended where a stream (gzip: a member) ends.
  TInflateStatus Finish();

  // Bytes appended so far, for the caller's memory budget.
  size_t Produced() const { return FProduced; }

  // Output inflated per call of zlib; the most a refused bomb has inflated beyond the limit.
  static constexpr size_t kChunkBytes = 64 * 1024;

 private:
  struct TState;
  TInflateStatus Fail(TInflateStatus status);
  TInflateStatus Inflate(std::string_view& input, std::string& out);

  std::unique_ptr<TState> FState;
  size_t FLimit;
  size_t FProduced = 0;
  TInflateStatus FStatus = TInflateStatus::Ok;
};

}  // namespace dct
