#include "service/HTTPRequestParser.h"

#include <gtest/gtest.h>

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "service/HTTPContentCoding.h"
#include "service/HTTPLimits.h"

namespace dct {
namespace {

struct TDecoded {
  std::optional<TWebResponse> Answer;  // the first, from Feed or Finish
  uint64_t MostAdmitted = 0;           // the largest inflated size admit was asked about
  std::string Body;
};

// Feeds coded in the socket's pieces (64 KiB); admit says yes up to admitUpTo inflated bytes.
TDecoded Decode(std::string_view coded, uint64_t admitUpTo = UINT64_MAX) {
  TRequestBodyDecoder decoder(TContentCoding::Gzip);
  TDecoded r;
  auto admit = [&](uint64_t inflated) {
    EXPECT_GE(inflated, r.MostAdmitted) << "admit asked about less than before";
    r.MostAdmitted = inflated;
    return inflated <= admitUpTo;
  };
  for (size_t at = 0; at < coded.size() && !r.Answer; at += 64 << 10)
    r.Answer = decoder.Feed(coded.substr(at, 64 << 10), admit);
  if (!r.Answer) r.Answer = decoder.Finish();
  if (!r.Answer) r.Body = decoder.TakeBody();
  return r;
}

std::string Repeated(std::string_view piece, size_t times) {
  std::string all;
  for (size_t i = 0; i < times; ++i) all += piece;
  return all;
}

// The ratio rule refuses bombs, not repetitive catalogues, and nothing under its free bytes.
TEST(RequestBodyDecoderTest, InflationRatioIsHeldPastTheFreeBytes) {
  // One item over and over: the most repetitive catalogue a client could send.
  const std::string items = Repeated(
      "&lt;elm t=&quot;A&quot; r=&quot;0&quot; c=&quot;11&quot;&gt;&lt;elm "
      "t=&quot;S&quot;&gt;4600000000017&lt;/elm&gt;"
      "&lt;elm t=&quot;S&quot;&gt;Молоко&lt;/elm&gt;&lt;elm t=&quot;N&quot;&gt;12.5&lt;/elm&gt;&lt;/elm&gt;",
      100000);
  const std::string zerosFree(THTTPLimits::kInflateFreeBytes, '\0');
  const struct {
    const char* Name;
    std::string Plain;
    int Status;  // 0: inflated whole
  } cases[] = {
      {"identical items at level 9", items, 0},
      {"zeros, within the free bytes", zerosFree, 0},
      {"zeros, past them", std::string(64u << 20, '\0'), 413},
  };
  for (const auto& c : cases) {
    const std::string coded = GzipCompress(c.Plain, 9);
    const TDecoded r = Decode(coded);
    EXPECT_EQ(r.Answer ? r.Answer->Status : 0, c.Status)
        << c.Name << ", ratio " << c.Plain.size() / coded.size();
    if (c.Status == 0) {
      EXPECT_TRUE(r.Body == c.Plain) << c.Name;
    } else {
      // Refused within one slice of the rule: about 4 MiB, not 64.
      EXPECT_LE(r.MostAdmitted, THTTPLimits::kInflateFreeBytes + 1032 * THTTPLimits::kInflateSliceBytes +
                                    TBodyInflater::kChunkBytes)
          << c.Name;
    }
  }
}

// admit is asked as the body grows, and its no ends the request with 503 at once.
TEST(RequestBodyDecoderTest, AdmitSeesTheGrowthAndItsRefusalIs503) {
  std::string text;
  for (uint64_t i = 0; text.size() < (16u << 20); ++i)
    text += "<elm t=\"N\">" + std::to_string(i * 7919) + "</elm>";
  const std::string coded = GzipCompress(text);
  const TDecoded whole = Decode(coded);
  ASSERT_FALSE(whole.Answer.has_value());
  EXPECT_EQ(whole.MostAdmitted, text.size());
  const TDecoded refused = Decode(coded, 4u << 20);
  ASSERT_TRUE(refused.Answer.has_value());
  EXPECT_EQ(refused.Answer->Status, 503);
  EXPECT_EQ(refused.Answer->Body, BusyMemoryAnswer().Body);
  EXPECT_GT(refused.MostAdmitted, uint64_t{4} << 20);
  EXPECT_LE(refused.MostAdmitted, (uint64_t{4} << 20) + 1032 * THTTPLimits::kInflateSliceBytes);
}

}  // namespace
}  // namespace dct
