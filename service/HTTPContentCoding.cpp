#include "service/HTTPContentCoding.h"

#include <zlib.h>

#include <algorithm>
#include <climits>
#include <cstdint>
#include <new>
#include <stdexcept>

namespace dct {
namespace {

// zlib counts bytes in uInt; larger buffers go through it in slices of this size.
constexpr size_t kZlibSlice = size_t{1} << 30;
// windowBits: 15 is the largest window; +16 asks for the gzip wrapper; negative means raw.
constexpr int kGzipWindowBits = 15 + 16;
constexpr int kZlibWindowBits = 15;
constexpr int kRawWindowBits = -15;
// deflateInit2's memLevel: zlib's default, the ratio the level measurements were made at.
constexpr int kMemLevel = 8;
constexpr unsigned char kGzipMagic[2] = {0x1f, 0x8b};

Bytef* InBytes(const char* p) { return reinterpret_cast<Bytef*>(const_cast<char*>(p)); }

// ---- header lists

bool IsSpace(char c) { return c == ' ' || c == '\t'; }

std::string_view Trim(std::string_view s) {
  while (!s.empty() && IsSpace(s.front())) s.remove_prefix(1);
  while (!s.empty() && IsSpace(s.back())) s.remove_suffix(1);
  return s;
}

bool SameText(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
    if (lower(a[i]) != lower(b[i])) return false;
  }
  return true;
}

// Calls each(element) for every non-empty element of a comma-separated header value.
template <typename F>
void ForEachElement(std::string_view value, F each) {
  while (true) {
    const size_t comma = value.find(',');
    const std::string_view element = Trim(value.substr(0, comma));
    if (!element.empty()) each(element);
    if (comma == std::string_view::npos) return;
    value.remove_prefix(comma + 1);
  }
}

// A qvalue in thousandths: "0", "0.5", "1", "1.000"; -1 for text that is none.
int ParseQValue(std::string_view text) {
  if (text.empty() || (text[0] != '0' && text[0] != '1')) return -1;
  int value = (text[0] - '0') * 1000;
  if (text.size() == 1) return value;
  if (text[1] != '.' || text.size() > 5) return -1;
  int scale = 100;
  for (size_t i = 2; i < text.size(); ++i, scale /= 10) {
    if (text[i] < '0' || text[i] > '9') return -1;
    value += (text[i] - '0') * scale;
  }
  return value > 1000 ? -1 : value;
}

// One Accept-Encoding element: its coding, and its q-value in thousandths (-1: unreadable).
struct TAcceptElement {
  std::string_view Coding;
  int Q = 1000;
};

TAcceptElement ParseAcceptElement(std::string_view element) {
  TAcceptElement result;
  size_t semi = element.find(';');
  result.Coding = Trim(element.substr(0, semi));
  while (semi != std::string_view::npos) {
    element.remove_prefix(semi + 1);
    semi = element.find(';');
    const std::string_view param = Trim(element.substr(0, semi));
    const size_t eq = param.find('=');
    if (eq != std::string_view::npos && SameText(Trim(param.substr(0, eq)), "q")) {
      result.Q = ParseQValue(Trim(param.substr(eq + 1)));
    }
  }
  return result;
}

bool IsGzipToken(std::string_view coding) { return SameText(coding, "gzip") || SameText(coding, "x-gzip"); }

// Owns a deflate stream for the length of one GzipCompress.
struct TDeflateStream {
  z_stream S{};
  ~TDeflateStream() { deflateEnd(&S); }
};

// The deflate wrapper of a stream that begins with b0 b1: zlib's header has compression
// method 8, a window of at most 32 KiB and a check making the pair a multiple of 31.
bool IsZlibHeader(unsigned char b0, unsigned char b1) {
  return (b0 & 0x0f) == Z_DEFLATED && (b0 >> 4) <= 7 && ((b0 << 8) | b1) % 31 == 0;
}

}  // namespace

// ---------------------------------------------------------------------------------------

std::string GzipCompress(std::string_view data, int level) {
  return *GzipCompressWithin(data, level, [](size_t) { return true; });
}

std::optional<std::string> GzipCompressWithin(std::string_view data, int level,
                                              const std::function<bool(size_t bytes)>& room) {
  if (level < 0 || level > 9) throw std::invalid_argument("gzip level outside 0..9");
  if (!room(kGzipStateBytes)) return std::nullopt;
  TDeflateStream stream;
  z_stream& s = stream.S;
  const int init = deflateInit2(&s, level, Z_DEFLATED, kGzipWindowBits, kMemLevel, Z_DEFAULT_STRATEGY);
  if (init == Z_MEM_ERROR) throw std::bad_alloc();
  if (init != Z_OK) throw std::runtime_error("deflateInit2 failed");

  // Text answers shrink five to fifteen times; start at an eighth and double when it fills,
  // so that the answer is never held twice at full size.
  const size_t first = std::max<size_t>(data.size() / 8, 1024);
  if (!room(first)) return std::nullopt;
  std::string out(first, '\0');
  size_t written = 0;
  while (true) {
    if (s.avail_in == 0 && !data.empty()) {
      const size_t slice = std::min(data.size(), kZlibSlice);
      s.next_in = InBytes(data.data());
      s.avail_in = static_cast<uInt>(slice);
      data.remove_prefix(slice);
    }
    if (written == out.size()) {
      if (!room(out.size())) return std::nullopt;
      out.resize(out.size() * 2);
    }
    const size_t space = std::min(out.size() - written, kZlibSlice);
    s.next_out = reinterpret_cast<Bytef*>(out.data() + written);
    s.avail_out = static_cast<uInt>(space);
    const int ret = deflate(&s, data.empty() ? Z_FINISH : Z_NO_FLUSH);
    written += space - s.avail_out;
    if (ret == Z_STREAM_END) break;
    // Z_BUF_ERROR only says that this round had no room to make progress in: more follows.
    if (ret != Z_OK && ret != Z_BUF_ERROR) throw std::runtime_error("deflate failed");
  }
  out.resize(written);
  if (room(written)) out.shrink_to_fit();
  return out;
}

bool AcceptsGzip(std::string_view acceptEncoding) {
  int gzipQ = -1, anyQ = -1;  // -1: not listed (or unreadable)
  ForEachElement(acceptEncoding, [&](std::string_view element) {
    const TAcceptElement e = ParseAcceptElement(element);
    if (IsGzipToken(e.Coding)) {
      gzipQ = std::max(gzipQ, e.Q);
    } else if (e.Coding == "*") {
      anyQ = std::max(anyQ, e.Q);
    }
  });
  // A coding named outright overrides "*", q=0 included.
  return gzipQ >= 0 ? gzipQ > 0 : anyQ > 0;
}

TContentCoding ParseContentEncoding(std::string_view contentEncoding) {
  TContentCoding coding = TContentCoding::Identity;
  int codings = 0;
  ForEachElement(contentEncoding, [&](std::string_view element) {
    if (SameText(element, "identity")) return;
    ++codings;
    if (IsGzipToken(element)) {
      coding = TContentCoding::Gzip;
    } else if (SameText(element, "deflate")) {
      coding = TContentCoding::Deflate;
    } else {
      coding = TContentCoding::Unknown;
    }
  });
  // Stacked codings are legal HTTP but no client of ours sends them; refusing is safer
  // than inflating twice within one limit.
  return codings > 1 ? TContentCoding::Unknown : coding;
}

// ---------------------------------------------------------------------------------------

struct TBodyInflater::TState {
  bool Gzip = false;
  z_stream Stream{};
  bool Initialised = false;  // inflateInit2 has run (deflate: once the wrapper is known)
  bool StreamEnded = false;  // the last stream (gzip: member) was complete
  int Members = 0;           // gzip members complete
  size_t MagicChecked = 0;   // gzip: bytes of the current member's magic checked
  std::string Prefix;        // deflate: the first bytes, until there are two
  std::unique_ptr<Bytef[]> Chunk{new Bytef[kChunkBytes]};

  ~TState() {
    if (Initialised) inflateEnd(&Stream);
  }
  void Init(int windowBits) {
    const int ret = inflateInit2(&Stream, windowBits);
    if (ret == Z_MEM_ERROR) throw std::bad_alloc();
    if (ret != Z_OK) throw std::runtime_error("inflateInit2 failed");
    Initialised = true;
  }
};

TBodyInflater::TBodyInflater(TContentCoding coding, size_t limit) : FState(new TState), FLimit(limit) {
  if (coding != TContentCoding::Gzip && coding != TContentCoding::Deflate) {
    throw std::invalid_argument("TBodyInflater needs gzip or deflate");
  }
  FState->Gzip = coding == TContentCoding::Gzip;
  if (FState->Gzip) FState->Init(kGzipWindowBits);
}

TBodyInflater::~TBodyInflater() = default;

TInflateStatus TBodyInflater::Fail(TInflateStatus status) {
  FStatus = status;
  return status;
}

TInflateStatus TBodyInflater::Inflate(std::string_view& input, std::string& out) {
  z_stream& s = FState->Stream;
  while (!input.empty()) {
    const size_t slice = std::min(input.size(), kZlibSlice);
    s.next_in = InBytes(input.data());
    s.avail_in = static_cast<uInt>(slice);
    int ret;
    do {
      s.next_out = FState->Chunk.get();
      s.avail_out = static_cast<uInt>(kChunkBytes);
      ret = inflate(&s, Z_NO_FLUSH);
      const size_t have = kChunkBytes - s.avail_out;
      if (have > FLimit - FProduced) return Fail(TInflateStatus::TooLarge);
      out.append(reinterpret_cast<const char*>(FState->Chunk.get()), have);
      FProduced += have;
      // A full chunk may leave output pending inside zlib even with no input left.
    } while (ret == Z_OK && (s.avail_in > 0 || s.avail_out == 0));
    input.remove_prefix(slice - s.avail_in);
    switch (ret) {
      case Z_STREAM_END: FState->StreamEnded = true; return TInflateStatus::Ok;
      case Z_OK:
      case Z_BUF_ERROR: break;  // all of the slice taken; no progress without more input
      case Z_MEM_ERROR: throw std::bad_alloc();
      default: return Fail(TInflateStatus::Corrupt);  // Z_DATA_ERROR; Z_NEED_DICT: no dictionary of ours
    }
  }
  return TInflateStatus::Ok;
}

TInflateStatus TBodyInflater::Feed(std::string_view piece, std::string& out) {
  if (FStatus != TInflateStatus::Ok) return FStatus;
  TState& st = *FState;
  while (!piece.empty()) {
    if (st.StreamEnded) {
      // Only another gzip member may follow a complete one.
      if (!st.Gzip) return Fail(TInflateStatus::TrailingData);
      ++st.Members;
      st.StreamEnded = false;
      st.MagicChecked = 0;
      if (inflateReset(&st.Stream) != Z_OK) return Fail(TInflateStatus::Corrupt);
    }
    if (st.Gzip) {
      // zlib would call a stray byte after a member a bad header; the listener must tell the two apart.
      for (size_t k = 0; st.MagicChecked < 2 && k < piece.size(); ++k, ++st.MagicChecked) {
        if (static_cast<unsigned char>(piece[k]) != kGzipMagic[st.MagicChecked]) {
          return Fail(st.Members > 0 ? TInflateStatus::TrailingData : TInflateStatus::Corrupt);
        }
      }
    } else if (!st.Initialised) {
      const size_t take = std::min(piece.size(), 2 - st.Prefix.size());
      st.Prefix.append(piece.substr(0, take));
      piece.remove_prefix(take);
      if (st.Prefix.size() < 2) return TInflateStatus::Ok;
      const auto b = [&](int i) { return static_cast<unsigned char>(st.Prefix[i]); };
      st.Init(IsZlibHeader(b(0), b(1)) ? kZlibWindowBits : kRawWindowBits);
      std::string_view prefix = st.Prefix;
      const TInflateStatus status = Inflate(prefix, out);
      if (status != TInflateStatus::Ok) return status;
      if (!prefix.empty()) return Fail(TInflateStatus::TrailingData);  // a stream of under two bytes
      continue;
    }
    const TInflateStatus status = Inflate(piece, out);
    if (status != TInflateStatus::Ok) return status;
  }
  return TInflateStatus::Ok;
}

TInflateStatus TBodyInflater::Finish() {
  if (FStatus != TInflateStatus::Ok) return FStatus;
  return FState->StreamEnded ? TInflateStatus::Ok : Fail(TInflateStatus::Truncated);
}

}  // namespace dct
