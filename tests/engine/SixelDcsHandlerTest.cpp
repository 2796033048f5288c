#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Vantrelle/Graphics/SixelDcsHandler.h"
#include "Vantrelle/Graphics/SixelDecoder.h"

using namespace vantrelle;

namespace {

struct Received {
  std::vector<uint8_t> pixels;
  int width = -1;
  int height = -1;
  int calls = 0;
};

SixelDcsHandler makeHandler(Received& received) {
  return SixelDcsHandler({0x11223344}, [&received](std::vector<uint8_t>& pixels, int w, int h) {
    received.pixels = pixels;
    received.width = w;
    received.height = h;
    ++received.calls;
  });
}

void put(SixelDcsHandler& handler, const std::string& text) {
  handler.put(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

}  // namespace

TEST(SixelDcsHandler, DecodesTheBodyAcrossRunsAtTheEnd) {
  Received received;
  SixelDcsHandler handler = makeHandler(received);
  const std::vector<int> parameters = {0, 1, 0};
  handler.hook({}, parameters, 'q');
  put(handler, "#0");
  put(handler, "~");
  put(handler, "!2");
  put(handler, "~");
  EXPECT_EQ(received.calls, 0);
  handler.unhook();
  ASSERT_EQ(received.calls, 1);
  EXPECT_EQ(received.width, 3);
  EXPECT_EQ(received.height, 6);
  ASSERT_EQ(received.pixels.size(), 3u * 6u * 4u);
  EXPECT_EQ(received.pixels[0], 0x11);
  EXPECT_EQ(received.pixels[3], 0x44);

  // An empty body is still handed over, as an empty image.
  handler.hook({}, parameters, 'q');
  handler.unhook();
  EXPECT_EQ(received.calls, 2);
  EXPECT_EQ(received.width, 0);
  EXPECT_TRUE(received.pixels.empty());
}

TEST(SixelDcsHandler, BodyIsBounded) {
  Received received;
  SixelDcsHandler handler = makeHandler(received);
  handler.hook({}, {}, 'q');
  put(handler, "#0~");
  const std::string filler(1 << 20, '?');
  for (size_t sent = 0; sent <= SixelDcsHandler::maxBodyBytes; sent += filler.size()) {
    put(handler, filler);
  }
  // Past the bound the rest of the body is dropped; the image keeps what came before.
  put(handler, "-~");
  handler.unhook();
  EXPECT_EQ(received.height, 6);
  EXPECT_EQ(received.width, SixelDecoder::maxImageDimension);
}
