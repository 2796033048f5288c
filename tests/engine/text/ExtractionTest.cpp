#include <gtest/gtest.h>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using testing::sized;
using testing::TestHost;

std::string asText(const std::optional<Bytes>& data) {
  return data ? std::string(data->begin(), data->end()) : "<none>";
}

TEST(Extraction, RowsComeBackAsFed) {
  TestHost host;
  Terminal t(&host, sized(10, 4));
  // A wide character, a combined cluster, a gap and a wrapped tail.
  t.feed(
      "\xe4\xb8\xad"
      "e\xcc\x81"
      "\x1b[1Cz\r\n0123456789ab");
  EXPECT_EQ(t.translateBufferLineToString(*t.buffer, 0, 0, -1),
            "\xe4\xb8\xad"
            "e\xcc\x81 z");
  EXPECT_EQ(t.translateBufferLineToString(*t.buffer, 0, 2, 4), "e\xcc\x81 ");
  EXPECT_EQ(t.translateBufferLineToString(*t.buffer, 3, 0, -1), "");
  EXPECT_EQ(t.getText(Position(0, 0), Position(2, 2)),
            "\xe4\xb8\xad"
            "e\xcc\x81 z\n0123456789ab");
  EXPECT_EQ(t.getText(Position(2, 2), Position(0, 0)), t.getText(Position(0, 0), Position(2, 2)));
  EXPECT_EQ(t.getText(Position(1, 1), Position(1, 1)), "");
  EXPECT_EQ(t.getText(Position(0, 99), Position(0, 100)), "");

  // A missing cluster code reads as a space.
  t.getLine(3)->set(0, CharData(Terminal::kFirstClusterCode + 999, 1, Terminal::defaultAttribute()));
  t.getLine(3)->set(1, CharData('q', 1, Terminal::defaultAttribute()));
  EXPECT_EQ(t.translateBufferLineToString(*t.buffer, 3, 0, -1), " q");
}

TEST(Extraction, BufferExportResolvesClustersAndKeepsEveryRow) {
  TestHost host;
  Terminal t(&host, sized(8, 3, 0));
  t.feed(
      "\xe4\xb8\xad"
      "a\r\ne\xcc\x81\r\n");
  EXPECT_EQ(asText(t.getBufferAsData()),
            "\xe4\xb8\xad"
            "a\ne\xcc\x81\n\n");
  // A row the encoding cannot hold is kept, with a substitute.
  EXPECT_EQ(asText(t.getBufferAsData(BufferKind::normal, "US-ASCII")), "?a\ne?\n\n");
  EXPECT_FALSE(t.getBufferAsData(BufferKind::active, "no-such-encoding"));

  TestHost other;
  Terminal empty(&other, sized(8, 3, 0));
  EXPECT_EQ(asText(empty.getBufferAsData(BufferKind::normal)), "\n\n\n");
  EXPECT_EQ(asText(empty.getBufferAsData(BufferKind::alt)), "");  // never shown: no rows
}

}  // namespace
}  // namespace vantrelle
