#include "service/HTTPContentCoding.h"

#include <gtest/gtest.h>
#include <zlib.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace dct {
namespace {

// Text shaped like a catalogue answer: escaped value text, Cyrillic names, varied numbers.
std::string CatalogueLikeText(size_t bytes) {
  static const char* const kNames[] = {"Молоко пастеризованное", "Хлеб ржаной", "Сыр российский",
                                       "Чай чёрный &quot;Заря&quot;", "Сок яблочный 1,5 л"};
  std::string text = "&lt;?xml version=&quot;1.0&quot;?&gt;&lt;sa&gt;";
  uint64_t state = 42;
  while (text.size() < bytes) {
    state = state * 6364136223846793005ULL + 1442695040888963407ULL;
    const uint32_t r = static_cast<uint32_t>(state >> 33);
    text += "&lt;elm t=&quot;S&quot;&gt;46" + std::to_string(1000000000 + r % 1000000000) + "&lt;/elm&gt;";
    text += "&lt;elm t=&quot;S&quot;&gt;" + std::string(kNames[r % 5]) + "&lt;/elm&gt;";
    text += "&lt;elm t=&quot;N&quot;&gt;" + std::to_string(r % 99999) + "." + std::to_string(r % 100) +
            "&lt;/elm&gt;\r\n";
  }
  text.resize(bytes);
  return text;
}

// Streams made by zlib itself, not by the unit, so that a wrapper the unit mistakes shows.
std::string ZlibDeflate(std::string_view data, int windowBits) {
  z_stream s{};
  EXPECT_EQ(deflateInit2(&s, 6, Z_DEFLATED, windowBits, 8, Z_DEFAULT_STRATEGY), Z_OK);
  std::string out(deflateBound(&s, static_cast<uLong>(data.size())), '\0');
  s.next_in = reinterpret_cast<Bytef*>(const_cast<char*>(data.data()));
  s.avail_in = static_cast<uInt>(data.size());
  s.next_out = reinterpret_cast<Bytef*>(out.data());
  s.avail_out = static_cast<uInt>(out.size());
  EXPECT_EQ(deflate(&s, Z_FINISH), Z_STREAM_END);
  out.resize(s.total_out);
  deflateEnd(&s);
  return out;
}
std::string ZlibWrapped(std::string_view data) { return ZlibDeflate(data, 15); }
std::string RawDeflate(std::string_view data) { return ZlibDeflate(data, -15); }

struct TInflated {
  TInflateStatus Status;  // the first status other than Ok, or Finish's
  std::string Out;
  size_t Produced;
};

// Feeds body in pieces of piece bytes, stopping at the first refusal, then finishes.
TInflated Inflate(TContentCoding coding, std::string_view body, size_t piece = SIZE_MAX,
                  size_t limit = SIZE_MAX) {
  TBodyInflater inflater(coding, limit);
  TInflated r{TInflateStatus::Ok, {}, 0};
  for (size_t at = 0; at < body.size() && r.Status == TInflateStatus::Ok; at += piece) {
    r.Status = inflater.Feed(body.substr(at, piece), r.Out);
  }
  if (r.Status == TInflateStatus::Ok) r.Status = inflater.Finish();
  r.Produced = inflater.Produced();
  return r;
}

uint32_t LittleEndian32(std::string_view b) {
  uint32_t v = 0;
  for (int i = 3; i >= 0; --i) v = (v << 8) | static_cast<unsigned char>(b[i]);
  return v;
}

TEST(ContentCodingTest, GzipRoundTripsAtEveryLevel) {
  const std::string texts[] = {"", "a", CatalogueLikeText(100 * 1000)};
  for (const std::string& text : texts) {
    for (int level = 0; level <= 9; ++level) {
      const std::string gz = GzipCompress(text, level);
      // A gzip member as any reader takes it: magic, method 8, and the length in its trailer.
      ASSERT_GE(gz.size(), 18u);
      EXPECT_EQ(gz.substr(0, 3), "\x1f\x8b\x08") << level;
      EXPECT_EQ(LittleEndian32(gz.substr(gz.size() - 4)), text.size()) << level;
      const TInflated r = Inflate(TContentCoding::Gzip, gz);
      EXPECT_EQ(r.Status, TInflateStatus::Ok) << level;
      EXPECT_TRUE(r.Out == text) << "level " << level << ", " << text.size() << " bytes";
      EXPECT_EQ(r.Produced, text.size());
    }
  }
  EXPECT_THROW(GzipCompress("x", 10), std::invalid_argument);
  EXPECT_THROW(GzipCompress("x", -1), std::invalid_argument);
}

// What the compressor is allowed covers what it holds: its state and the output's
// capacity; refused at any of its requests, it gives up rather than take more.
TEST(ContentCodingTest, CompressWithinAsksBeforeEveryAllocation) {
  const std::string text = CatalogueLikeText(2u << 20);
  const std::string incompressible = [] {
    std::string t(1u << 20, '\0');
    uint64_t state = 7;
    for (char& c : t) c = static_cast<char>((state = state * 6364136223846793005ULL + 1) >> 56);
    return t;
  }();
  for (const std::string* data : {&text, &incompressible}) {
    std::vector<size_t> asked;
    const std::optional<std::string> gz = GzipCompressWithin(*data, kGzipLevel, [&](size_t bytes) {
      asked.push_back(bytes);
      return true;
    });
    ASSERT_TRUE(gz.has_value());
    EXPECT_EQ(*gz, GzipCompress(*data));
    ASSERT_GE(asked.size(), 3u);  // state, first output, the fitted copy
    EXPECT_EQ(asked.front(), kGzipStateBytes);
    size_t output = 0;  // the growths: the largest capacity held at once
    for (size_t i = 1; i + 1 < asked.size(); ++i) output += asked[i];
    EXPECT_GE(output, gz->size());
    EXPECT_LE(output, 2 * gz->size() + 2 * (data->size() / 8));
    EXPECT_EQ(asked.back(), gz->size());
    // Refused at each request but the last: nothing; the fitted copy refused: the same bytes.
    for (size_t refuse = 0; refuse < asked.size(); ++refuse) {
      size_t n = 0;
      const std::optional<std::string> r =
          GzipCompressWithin(*data, kGzipLevel, [&](size_t) { return n++ != refuse; });
      if (refuse + 1 < asked.size()) {
        EXPECT_FALSE(r.has_value()) << refuse;
        EXPECT_EQ(n, refuse + 1) << "asked again after a refusal";
      } else {
        ASSERT_TRUE(r.has_value());
        EXPECT_EQ(*r, *gz);
      }
    }
  }
}

// The catalogue answer's size: many rounds of the output growth, and chunks far past one.
TEST(ContentCodingTest, FortyMegabyteCatalogueRoundTripsInSocketPieces) {
  const std::string text = CatalogueLikeText(40 * 1000 * 1000);
  const std::string gz = GzipCompress(text);
  EXPECT_LT(gz.size(), text.size() / 5);
  const TInflated r = Inflate(TContentCoding::Gzip, gz, 16 * 1024, text.size());
  EXPECT_EQ(r.Status, TInflateStatus::Ok);
  EXPECT_EQ(r.Produced, text.size());
  EXPECT_TRUE(r.Out == text);
}

// Pieces of every size from one byte to the whole body: the gzip magic, the deflate
// wrapper's two bytes and member boundaries all fall across piece edges somewhere.
TEST(ContentCodingTest, EveryPieceSizeGivesTheSameBody) {
  const std::string text = CatalogueLikeText(3000);
  struct TCase {
    const char* Name;
    TContentCoding Coding;
    std::string Body, Expected;
  };
  const TCase cases[] = {
      {"gzip", TContentCoding::Gzip, GzipCompress(text), text},
      {"two gzip members", TContentCoding::Gzip, GzipCompress(text) + GzipCompress("tail"), text + "tail"},
      {"zlib deflate", TContentCoding::Deflate, ZlibWrapped(text), text},
      {"raw deflate", TContentCoding::Deflate, RawDeflate(text), text},
  };
  for (const TCase& c : cases) {
    for (size_t piece = 1; piece <= c.Body.size(); ++piece) {
      const TInflated r = Inflate(c.Coding, c.Body, piece);
      ASSERT_EQ(r.Status, TInflateStatus::Ok) << c.Name << ", pieces of " << piece;
      ASSERT_TRUE(r.Out == c.Expected) << c.Name << ", pieces of " << piece;
    }
  }
}

// What out held before stays; Produced counts only what was inflated.
TEST(ContentCodingTest, AppendsToWhatTheOutputHeld) {
  TBodyInflater inflater(TContentCoding::Gzip, 5);
  std::string out = "head:";
  EXPECT_EQ(inflater.Feed(GzipCompress("abcde"), out), TInflateStatus::Ok);
  EXPECT_EQ(inflater.Finish(), TInflateStatus::Ok);
  EXPECT_EQ(out, "head:abcde");
  EXPECT_EQ(inflater.Produced(), 5u);
}

TEST(ContentCodingTest, LimitHoldsJustInsideAndRefusesJustOutside) {
  const std::string text = CatalogueLikeText(200 * 1000);
  const std::string bodies[] = {GzipCompress(text), ZlibWrapped(text), RawDeflate(text)};
  const TContentCoding codings[] = {TContentCoding::Gzip, TContentCoding::Deflate, TContentCoding::Deflate};
  for (int i = 0; i < 3; ++i) {
    const TInflated inside = Inflate(codings[i], bodies[i], 1000, text.size());
    EXPECT_EQ(inside.Status, TInflateStatus::Ok) << i;
    EXPECT_TRUE(inside.Out == text) << i;
    const TInflated outside = Inflate(codings[i], bodies[i], 1000, text.size() - 1);
    EXPECT_EQ(outside.Status, TInflateStatus::TooLarge) << i;
    EXPECT_LE(outside.Produced, text.size() - 1) << i;
    EXPECT_EQ(outside.Out.size(), outside.Produced) << i;
  }
  EXPECT_EQ(Inflate(TContentCoding::Gzip, GzipCompress("x"), SIZE_MAX, 0).Status, TInflateStatus::TooLarge);
  EXPECT_EQ(Inflate(TContentCoding::Gzip, GzipCompress(""), SIZE_MAX, 0).Status, TInflateStatus::Ok);
}

// A few KB that inflate to 64 MiB: refused within one chunk of the limit, after reading
// only the first part of the body, and refused for good.
TEST(ContentCodingTest, BombStopsAtTheLimit) {
  const std::string bomb = GzipCompress(std::string(64 << 20, '\0'), 9);
  ASSERT_LT(bomb.size(), 100u * 1024);
  constexpr size_t kLimit = 8 << 20;

  TBodyInflater inflater(TContentCoding::Gzip, kLimit);
  std::string out;
  size_t fed = 0;
  TInflateStatus status = TInflateStatus::Ok;
  while (fed < bomb.size() && status == TInflateStatus::Ok) {
    const std::string_view piece = std::string_view(bomb).substr(fed, 4096);
    status = inflater.Feed(piece, out);
    fed += piece.size();
    ASSERT_LE(out.size(), kLimit);
  }
  EXPECT_EQ(status, TInflateStatus::TooLarge);
  EXPECT_LE(inflater.Produced(), kLimit);
  EXPECT_GT(inflater.Produced(), kLimit - TBodyInflater::kChunkBytes);
  EXPECT_LT(fed, bomb.size() / 4);
  EXPECT_EQ(inflater.Feed(bomb.substr(fed, 4096), out), TInflateStatus::TooLarge);
  EXPECT_EQ(inflater.Finish(), TInflateStatus::TooLarge);
  EXPECT_EQ(out.size(), inflater.Produced());
}

// Every cut of a sound body is Truncated at its end, never Corrupt and never Ok.
TEST(ContentCodingTest, EveryCutIsTruncated) {
  const std::string text = CatalogueLikeText(2000);
  const std::pair<TContentCoding, std::string> bodies[] = {
      {TContentCoding::Gzip, GzipCompress(text)},
      {TContentCoding::Deflate, ZlibWrapped(text)},
      {TContentCoding::Deflate, RawDeflate(text)},
  };
  for (const auto& [coding, body] : bodies) {
    for (size_t cut = 0; cut < body.size(); ++cut) {
      ASSERT_EQ(Inflate(coding, std::string_view(body).substr(0, cut), 7).Status, TInflateStatus::Truncated)
          << "cut at " << cut << " of " << body.size();
    }
  }
  // A second member that has only begun.
  EXPECT_EQ(Inflate(TContentCoding::Gzip, GzipCompress("a") + "\x1f\x8b").Status, TInflateStatus::Truncated);
}

TEST(ContentCodingTest, DamagedBodiesAreCorrupt) {
  const std::string text = CatalogueLikeText(5000);
  const std::string gz = GzipCompress(text);
  const std::string zl = ZlibWrapped(text);
  const auto flip = [](std::string s, size_t at) {
    s[at] = static_cast<char>(s[at] ^ 0x01);
    return s;
  };
  struct TCase {
    const char* Name;
    TContentCoding Coding;
    std::string Body;
  };
  const TCase cases[] = {
      {"gzip CRC", TContentCoding::Gzip, flip(gz, gz.size() - 8)},
      {"gzip length", TContentCoding::Gzip, flip(gz, gz.size() - 4)},
      {"gzip method", TContentCoding::Gzip, flip(gz, 2)},
      {"not gzip", TContentCoding::Gzip, "<soap:Envelope/>"},
      {"zlib under gzip", TContentCoding::Gzip, zl},
      {"zlib adler", TContentCoding::Deflate, flip(zl, zl.size() - 1)},
      {"zlib preset dictionary", TContentCoding::Deflate, std::string("\x78\xbb\0\0\0\x01\x03\0", 8)},
      {"second member damaged", TContentCoding::Gzip, gz + flip(gz, gz.size() - 8)},
      {"raw, reserved block type", TContentCoding::Deflate, std::string("\x07\x00", 2)},
  };
  for (const TCase& c : cases) {
    for (size_t piece : {size_t{1}, SIZE_MAX}) {
      EXPECT_EQ(Inflate(c.Coding, c.Body, piece).Status, TInflateStatus::Corrupt) << c.Name << ", " << piece;
    }
  }
}

// Concatenated gzip members are one body, as gzip writes and reads them; after the last
// member, anything that does not begin one is trailing data, as is anything after a deflate
// stream.
TEST(ContentCodingTest, TrailingDataAndConcatenatedMembers) {
  const std::string gz = GzipCompress("abc");
  struct TCase {
    const char* Name;
    TContentCoding Coding;
    std::string Body;
    TInflateStatus Status;
    std::string Out;
  };
  const TCase cases[] = {
      {"three members", TContentCoding::Gzip, gz + GzipCompress("") + gz, TInflateStatus::Ok, "abcabc"},
      {"a text after gzip", TContentCoding::Gzip, gz + "junk", TInflateStatus::TrailingData, "abc"},
      {"a zero after gzip", TContentCoding::Gzip, gz + std::string(1, '\0'), TInflateStatus::TrailingData,
       "abc"},
      {"half a magic after gzip", TContentCoding::Gzip, gz + "\x1fX", TInflateStatus::TrailingData, "abc"},
      {"a byte after zlib", TContentCoding::Deflate, ZlibWrapped("abc") + "\n", TInflateStatus::TrailingData,
       "abc"},
      {"gzip after raw", TContentCoding::Deflate, RawDeflate("abc") + gz, TInflateStatus::TrailingData,
       "abc"},
      {"two zlib streams", TContentCoding::Deflate, ZlibWrapped("abc") + ZlibWrapped("abc"),
       TInflateStatus::TrailingData, "abc"},
  };
  for (const TCase& c : cases) {
    for (size_t piece : {size_t{1}, size_t{3}, SIZE_MAX}) {
      const TInflated r = Inflate(c.Coding, c.Body, piece);
      EXPECT_EQ(r.Status, c.Status) << c.Name << ", pieces of " << piece;
      EXPECT_EQ(r.Out, c.Out) << c.Name << ", pieces of " << piece;
    }
  }
}

TEST(ContentCodingTest, AcceptEncodingTable) {
  struct TCase {
    const char* Value;
    bool Gzip;
  };
  const TCase cases[] = {
      {"", false},
      {"identity", false},
      {"deflate", false},
      {"gzip", true},
      {"GZip", true},
      {"x-gzip", true},
      {"gzip, deflate", true},
      {"deflate,gzip", true},
      {" , gzip ,", true},
      {"gzip;q=0", false},
      {"gzip; q=0.000", false},
      {"gzip;Q=0.001", true},
      {"gzip ; q = 0", false},
      {"gzip;q=1.0", true},
      {"gzip;q=2", false},  // unreadable q: the element is ignored
      {"gzip;q=abc", false},
      {"gzip;q=0.5000", false},
      {"gzip;level=9", true},
      {"*", true},
      {"*;q=0", false},
      {"*, gzip;q=0", false},  // named outright beats "*"
      {"gzip;q=0, *", false},
      {"identity;q=1, *;q=0.1", true},
      {"br;q=1.0, gzip;q=0.8, *;q=0.1", true},
      {"x-gzip;q=0, gzip", true},
      {"gzipped", false},
  };
  for (const TCase& c : cases) EXPECT_EQ(AcceptsGzip(c.Value), c.Gzip) << '"' << c.Value << '"';
}

TEST(ContentCodingTest, ContentEncodingTable) {
  struct TCase {
    const char* Value;
    TContentCoding Coding;
  };
  const TCase cases[] = {
      {"", TContentCoding::Identity},
      {"identity", TContentCoding::Identity},
      {"IDENTITY", TContentCoding::Identity},
      {"gzip", TContentCoding::Gzip},
      {" GZIP ", TContentCoding::Gzip},
      {"x-gzip", TContentCoding::Gzip},
      {"identity, gzip", TContentCoding::Gzip},
      {"deflate", TContentCoding::Deflate},
      {"Deflate", TContentCoding::Deflate},
      {"br", TContentCoding::Unknown},
      {"compress", TContentCoding::Unknown},
      {"none", TContentCoding::Unknown},
      {"gzip;q=1", TContentCoding::Unknown},
      {"gzip, gzip", TContentCoding::Unknown},
      {"deflate, gzip", TContentCoding::Unknown},
  };
  for (const TCase& c : cases) {
    EXPECT_EQ(ParseContentEncoding(c.Value), c.Coding) << '"' << c.Value << '"';
  }
  EXPECT_THROW(TBodyInflater(TContentCoding::Identity, 1), std::invalid_argument);
}

}  // namespace
}  // namespace dct
