#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/EventStreamParser.h"

using namespace zorvel;

namespace {

struct Collector {
  std::vector<ServerSentEvent> events;
  EventStreamParser parser{[this](ServerSentEvent e) { events.push_back(std::move(e)); }};
};

}  // namespace

TEST(EventStreamParser, FieldsOfOneBlock) {
  Collector c;
  c.parser.append("event: task\ndata: a\ndata: b\nid: 7\nretry: 10\nunknown: x\n\n");
  ASSERT_EQ(c.events.size(), 1u);
  EXPECT_EQ(c.events[0].type, "task");
  EXPECT_EQ(c.events[0].data, "a\nb");
  EXPECT_EQ(c.events[0].id, std::optional<std::string>("7"));

  c.parser.append("data:whole\n\ndata:  one space kept\nid:\n\n");
  ASSERT_EQ(c.events.size(), 3u);
  EXPECT_EQ(c.events[1].data, "whole");
  EXPECT_EQ(c.events[1].type, "message");  // nothing carries over from the previous block
  EXPECT_FALSE(c.events[1].id);
  EXPECT_EQ(c.events[2].data, " one space kept");
  EXPECT_EQ(c.events[2].id, std::optional<std::string>(""));

  c.parser.append("data\n\nevent:\ndata: x\n\n");
  ASSERT_EQ(c.events.size(), 5u);
  EXPECT_EQ(c.events[3].data, "");  // a bare field name is an empty value
  EXPECT_EQ(c.events[4].type, "message");
}

TEST(EventStreamParser, BlocksWithoutDataOrWithBadTextSayNothing) {
  Collector c;
  c.parser.append(": keep-alive\n\nevent: ping\nid: 3\n\n");
  c.parser.append(std::string("data: \xff\xfe\n\n"));
  c.parser.append("data: after\n\n");
  ASSERT_EQ(c.events.size(), 1u);
  EXPECT_EQ(c.events[0].data, "after");
}

TEST(EventStreamParser, ChunksSplitAnywhere) {
  const std::string stream = "event: a\r\ndata: 1\r\n\r\ndata: 2\r\rdata: 3\n\ndata: \xc3\xa9\n\n";
  for (std::size_t cut = 0; cut <= stream.size(); ++cut) {
    Collector c;
    c.parser.append(std::string_view(stream).substr(0, cut));
    c.parser.append(std::string_view(stream).substr(cut));
    ASSERT_EQ(c.events.size(), 4u) << "cut at " << cut;
    EXPECT_EQ(c.events[0].type, "a");
    EXPECT_EQ(c.events[0].data, "1");
    EXPECT_EQ(c.events[1].data, "2");
    EXPECT_EQ(c.events[2].data, "3");
    EXPECT_EQ(c.events[3].data, "\xc3\xa9");
  }
}

TEST(EventStreamParser, UnfinishedAndOversizedBlocks) {
  Collector c;
  c.parser.append("data: pending");
  EXPECT_TRUE(c.events.empty());
  EXPECT_GT(c.parser.pendingSize(), 0u);

  Collector big;
  std::string huge = "data: " + std::string(EventStreamParser::maximumBlockSize, 'x');
  big.parser.append(huge);
  big.parser.append(huge);
  EXPECT_LE(big.parser.pendingSize(), EventStreamParser::maximumBlockSize);
  big.parser.append("\n\ndata: next\n\n");
  ASSERT_EQ(big.events.size(), 1u);
  EXPECT_EQ(big.events[0].data, "next");
}
