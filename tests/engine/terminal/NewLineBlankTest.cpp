// New lines store their blank only where something needs it. Each writer below acts on lines
// fresh from a scroll in one terminal, and on the same lines with their blank stored first in
// another: the two must end cell for cell the same.
#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <utility>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using namespace testing;

void storeEveryBlank(Terminal& t) {
  auto& lines = t.buffer->lines();
  for (int i = 0; i < lines.count(); i++) std::as_const(*lines[i]).cells();
}

// Payloads are compared by presence only: each terminal numbers its links on its own.
bool sameCell(const CharData& x, const CharData& y) {
  return x.code == y.code && x.width == y.width && x.sameAttribute(y) && x.hasPayload() == y.hasPayload();
}

TEST(NewLineBlank, WritersOnFreshLinesMatchLinesStoredWhole) {
  const std::pair<const char*, std::string> writers[] = {
      {"ascii", "abc"},
      {"wide", "\xe6\x97\xa5\xe6\x9c\xac"},
      {"emoji selector", "\xe2\x9d\xa4\xef\xb8\x8f"},
      {"combining mark", "e\xcc\x81x"},
      {"one byte at a time", "a"},
      {"erase characters", "ab\x1b[5X"},
      {"insert characters", "ab\x1b[1G\x1b[3@"},
      {"delete characters", "abcdef\x1b[1G\x1b[2P"},
      {"erase in line, coloured", "ab\x1b[41m\x1b[K\x1b[m"},
      {"erase to the left", "\x1b[41m\x1b[1K\x1b[m"},
      {"repeat", "a\x1b[5b"},
      {"hyperlink", "\x1b]8;;http://x\x1b\\link\x1b]8;;\x1b\\"},
      {"insert mode", "\x1b[4hab\x1b[4l"},
      {"tab", "\tX"},
      {"wrap at the edge", "\x1b[78Gabcdef"},
      {"fill rectangle", "\x1b[65;24;5;24;20$x"},
      {"copy rectangle", "\x1b[23;1;23;30;1;24;3;1$v"},
      {"erase rectangle", "\x1b[24;2;24;8$z"},
      {"reverse rectangle", "\x1b[24;1;24;40;7$t"},
  };
  for (const auto& [name, writer] : writers) {
    TestHost hostA, hostB;
    Terminal fresh(&hostA, sized(80, 24, 100));
    Terminal stored(&hostB, sized(80, 24, 100));
    for (Terminal* t : {&fresh, &stored}) t->feed(std::string("\x1b[24;1Hold text\r\n\n\x1b[10G"));
    storeEveryBlank(stored);
    for (Terminal* t : {&fresh, &stored}) t->feed(writer + "\r\n" + writer);
    auto& a = fresh.buffer->lines();
    auto& b = stored.buffer->lines();
    ASSERT_EQ(a.count(), b.count()) << name;
    for (int i = 0; i < a.count(); i++) {
      EXPECT_EQ(a[i]->isWrapped(), b[i]->isWrapped()) << name << ", line " << i;
      const auto cellsA = a[i]->getData();
      const auto cellsB = b[i]->getData();
      for (int c = 0; c < 80; c++) {
        ASSERT_TRUE(sameCell((*a[i])[c], (*b[i])[c])) << name << ", line " << i << ", column " << c;
        ASSERT_TRUE(sameCell(cellsA[size_t(c)], cellsB[size_t(c)])) << name << ", line " << i << ", column " << c;
      }
    }
  }
}

}  // namespace
}  // namespace vantrelle
