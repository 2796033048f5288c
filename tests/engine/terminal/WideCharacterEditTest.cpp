// Editing around wide characters: what is left where a wide character loses a half.
#include <gtest/gtest.h>

#include "engine/terminal/TestHost.h"

using namespace vantrelle;
using namespace vantrelle::testing;

namespace {

CharData cellAt(Terminal& t, int col, int row = 0) { return (*t.getLine(row))[col]; }

}  // namespace

// The blanks a wide character leaves behind draw in the default colours, not inverted ones: the
// half pushed against the edge by insert mode, and the continuation a character insert strands.
TEST(WideCharacterEdit, BlanksLeftBehindHaveDefaultColours) {
  TestHost host;
  Terminal t(&host, sized(6, 2));
  t.feed("abcd\xe4\xb8\x80\r\x1b[4hx\x1b[4l");
  EXPECT_EQ(rowText(t, 0), "xabcd");
  EXPECT_TRUE(cellAt(t, 5).hasDefaultAttribute());

  t.feed("\x1b[2;1H\xe4\xb8\x80\xe4\xb8\x80");
  for (int col : {1, 3}) EXPECT_TRUE(cellAt(t, col, 1).hasDefaultAttribute()) << col;
}
