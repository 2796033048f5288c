#include <gtest/gtest.h>

#include <vector>

#include "Vantrelle/Parser/ByteScan.h"

namespace vantrelle {
namespace {

// The bulk scans must stop exactly where a byte-by-byte scan would, at every offset of a block.
TEST(ByteScan, StopsAtTheFirstMatchingByteWhereverItFalls) {
  for (size_t length = 0; length < 40; ++length) {
    for (size_t at = 0; at <= length; ++at) {
      std::vector<uint8_t> text(length, 'a');
      text.insert(text.end(), {0xC3, 0xA9});  // UTF-8 continues a printable run
      if (at < length) text[at] = 0x1B;
      EXPECT_EQ(printableRunLength(text.data(), text.size()), at < length ? at : text.size());

      std::vector<uint8_t> ascii(length, 0x7F);
      if (at < length) ascii[at] = 0x80;
      EXPECT_EQ(asciiRunLength(ascii.data(), ascii.size()), at < length ? at : length);
    }
  }
  const uint8_t edges[] = {0x20, 0xFF, 0x9C, 0x80, 0x1F};
  EXPECT_EQ(printableRunLength(edges, sizeof edges), 4u);
}

// A printable run and whether it holds DEL or anything above: a byte of either kind before,
// at or after the end of the run, in either block of a pair or past both.
TEST(ByteScan, PrintableRunsTellWhetherTheyStayBelowDel) {
  for (size_t size = 0; size < 72; ++size) {
    for (size_t end = 0; end <= size; ++end) {
      for (const uint8_t wide : {0x7F, 0x80, 0xFF}) {
        for (size_t at = 0; at < size; at += 1 + at / 8) {
          std::vector<uint8_t> text(size, '~');
          if (end < size) text[end] = "\x1b\r\x00"[end % 3];
          if (at != end) text[at] = wide;
          const size_t length = printableRunLength(text.data(), text.size());
          const PrintableRun run = printableRun(text.data(), text.size());
          ASSERT_EQ(run.length, length) << size << " " << end << " " << at;
          ASSERT_EQ(run.belowDel, allBelowDel(text.data(), length)) << size << " " << end << " " << at;
          ASSERT_EQ(run.belowDel, !(at < length && at != end)) << size << " " << end << " " << at;
        }
      }
    }
  }
}

}  // namespace
}  // namespace vantrelle
