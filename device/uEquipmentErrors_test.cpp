#include "device/uEquipmentErrors.h"

#include <gtest/gtest.h>

namespace dct {
namespace {

const std::string kUnknown = "Неизвестная ошибка";

TEST(EquipmentErrors, GeneralLookupKeepsTextOrUsesTable) {
  struct TCase {
    int Code;
    std::string Text;
    std::string Expected;
  } cases[] = {
      {0, "", "Нет ошибок"},
      {99001, "", "Ошибок нет"},
      {0, "своя причина", "своя причина"},  // a given text wins even for success
      {1001, "disk full", "disk full"},
      {70, "", "Устройство не включено"},
      {1003, "", "Команда не поддерживаеся устройством"},
      {1013, "", "Устройство не найдено"},
      {2001, "", "Буфер данных пуст"},
      {8001, "", "Буфер данных пуст"},
      {99115, "",
       "Специфичная для данного класса устройств ошибка. Расширенная информация в "
       "дополнительном описании ошибки"},
      {6501, "", kUnknown},  // device codes are unknown to the general table
      {-1, "", kUnknown},
      {1, "", kUnknown},
      {1020, "", kUnknown},
  };
  for (const auto& c : cases) {
    EXPECT_EQ(GetEquipmentErrorDescription(c.Code, c.Text), c.Expected) << c.Code;
  }
}

TEST(EquipmentErrors, DeviceLookupSplitsAtItsRange) {
  struct TCase {
    int Code;
    std::string Expected;
  } cases[] = {
      {6501, "Товар с указанными параметрами не найден"},
      {6502, "Документ с указанными параметрами не найден"},
      {6507, "Документы для загрузки отсутствуют"},
      {6509, "Сервис мобильных терминалов не запущен"},
      {6510, kUnknown},
      {6600, kUnknown},
      {7000, kUnknown},
      {7001, "Вес не стабилен"},  // just above the range: the general table again
      {6500, kUnknown},
      {1004, "Ошибка входных параметров команды"},
      {0, "Нет ошибок"},
  };
  for (const auto& c : cases) EXPECT_EQ(GetDeviceErrorDescription(c.Code), c.Expected) << c.Code;
}

}  // namespace
}  // namespace dct
