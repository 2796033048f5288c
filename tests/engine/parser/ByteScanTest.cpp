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

}  // namespace
}  // namespace vantrelle
