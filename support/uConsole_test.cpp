#include "support/uConsole.h"

#include <gtest/gtest.h>

#include <string>

namespace dct {
namespace {

std::string Written(std::FILE* f) {
  std::rewind(f);
  std::string text;
  char buffer[256];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, f)) > 0) text.append(buffer, n);
  return text;
}

TEST(ProgressLine, RewritesInPlaceOnATerminalAndWritesNothingElsewhere) {
  std::FILE* shown = std::tmpfile();
  std::FILE* redirected = std::tmpfile();
  ASSERT_TRUE(shown && redirected);
  {
    TProgressLine on(shown, true), off(redirected, false);
    for (TProgressLine* p : {&on, &off}) {
      p->Show("reading 1000 lines");
      p->Show("sending");
    }
  }
  EXPECT_EQ(Written(shown), "\rreading 1000 lines\rsending           \r       \r");
  EXPECT_EQ(Written(redirected), "");
  // A file is no terminal, so the line stays off on its own.
  EXPECT_FALSE(IsTerminal(redirected));
  std::fclose(shown);
  std::fclose(redirected);
}

TEST(ConsoleText, AFileGetsTheUtf8BytesUnchanged) {
  std::FILE* file = std::tmpfile();
  ASSERT_TRUE(file);
  const std::string report =
      "Service \"Korvel mobile DCT service\" failed to install with error: \"Служба уже существует.\"\n";
  EXPECT_TRUE(WriteText(file, report));
  EXPECT_EQ(Written(file), report);
  std::fclose(file);
}

}  // namespace
}  // namespace dct
