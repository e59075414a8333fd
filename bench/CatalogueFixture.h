// MakeCatalogueValue: the input of a catalogue load, for benchmarks.
//
// Gives the one-dimensional array [the double 0, an items x 11 item table] that the
// accounting side sends to load a catalogue: positions 0..10 of each row are barcode
// (13-digit EAN), name (Cyrillic, about 30 characters), unit name, three free texts (often
// empty), price (Currency, two decimals), quantity (double) and three flags. The content is
// deterministic: the same items count always gives the same value, so figures compare
// across runs and across benchmarks (values, buffer, service).
#pragma once

#include <cstdint>
#include <string>
#include <utility>

#include "values/Variant.h"

namespace dct {

// Small deterministic generator (64-bit LCG); good enough to vary field contents.
class TFixtureRandom {
 public:
  explicit TFixtureRandom(uint64_t seed) : FState(seed) { Next(); }
  uint32_t Next() {
    FState = FState * 6364136223846793005ULL + 1442695040888963407ULL;
    return static_cast<uint32_t>(FState >> 33);
  }
  uint32_t Below(uint32_t n) { return Next() % n; }

 private:
  uint64_t FState;
};

// A 13-digit EAN with a valid check digit, unique per item.
inline std::string FixtureBarcode(int item) {
  std::string digits = "46" + std::to_string(1000000000LL + item).substr(0, 10);
  int sum = 0;
  for (int k = 0; k < 12; ++k) sum += (digits[k] - '0') * (k % 2 == 0 ? 1 : 3);
  digits += static_cast<char>('0' + (10 - sum % 10) % 10);
  return digits;
}

inline Variant MakeCatalogueValue(int items) {
  static const char* const kGoods[] = {"Молоко пастеризованное", "Кефир нежирный",  "Хлеб ржаной",
                                       "Сыр российский",         "Масло сливочное", "Чай чёрный",
                                       "Кофе молотый",           "Сок яблочный",    "Печенье овсяное",
                                       "Колбаса докторская"};
  static const char* const kMakers[] = {"Заря", "Восход", "Северный", "Луговое", "Домашний"};
  static const char* const kSizes[] = {"1 л", "0,5 кг", "450 г", "250 г", "1,5 л", "200 г"};
  static const char* const kUnits[] = {"шт", "кг", "л", "упак"};
  static const char* const kQuality[] = {"", "", "высший сорт", "первый сорт"};

  Variant table = Variant::CreateArray({{0, items - 1}, {0, 10}});
  TFixtureRandom random(42);
  for (int i = 0; i < items; ++i) {
    std::string name = kGoods[random.Below(10)];
    name += " \"";
    name += kMakers[random.Below(5)];
    name += "\" ";
    name += kSizes[random.Below(6)];
    table.Ref(i, 0) = Variant::FromString(FixtureBarcode(i));
    table.Ref(i, 1) = Variant::FromString(std::move(name));
    table.Ref(i, 2) = Variant::FromString(kUnits[random.Below(4)]);
    std::string article = random.Below(3) == 0 ? "Артикул " + std::to_string(10000 + i) : "";
    std::string series = random.Below(4) == 0 ? "Серия A-" + std::to_string(random.Below(1000)) : "";
    table.Ref(i, 3) = Variant::FromString(std::move(article));
    table.Ref(i, 4) = Variant::FromString(std::move(series));
    table.Ref(i, 5) = Variant::FromString(kQuality[random.Below(4)]);
    // Prices in kopecks up to 9999.99, held as ten-thousandths.
    int64_t kopecks = static_cast<int64_t>(random.Below(999999)) + 1;
    table.Ref(i, 6) = Variant::FromCurrency(Currency{kopecks * 100});
    // Mostly whole pieces, some weighed amounts with three decimals.
    double quantity = random.Below(4) == 0 ? random.Below(100000) / 1000.0 : random.Below(200);
    table.Ref(i, 7) = Variant::FromDouble(quantity);
    table.Ref(i, 8) = Variant::FromBoolean(random.Below(10) == 0);
    table.Ref(i, 9) = Variant::FromBoolean(random.Below(5) == 0);
    table.Ref(i, 10) = Variant::FromBoolean(random.Below(5) == 0);
  }
  return Variant::ArrayOf({Variant::FromDouble(0), std::move(table)});
}

}  // namespace dct
