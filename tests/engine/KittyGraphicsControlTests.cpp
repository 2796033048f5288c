#include <gtest/gtest.h>

#include <string>

#include "Vantrelle/Graphics/KittyGraphicsControl.h"
#include "Vantrelle/Graphics/KittyGraphicsReplies.h"

using namespace vantrelle;

namespace {

KittyGraphicsCommand parse(const std::string& text) {
  return parseKittyGraphicsControl(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
}

std::string payloadOf(const KittyGraphicsCommand& command) {
  return std::string(command.payload.begin(), command.payload.end());
}

}  // namespace

TEST(KittyGraphicsControl, DefaultsWhenKeysAreAbsent) {
  auto c = parse("").control;
  EXPECT_EQ(c.action, 't');
  EXPECT_EQ(c.format, 32);
  EXPECT_EQ(c.transmission, 'd');
  EXPECT_FALSE(c.imageId);
  EXPECT_FALSE(c.compression);
  EXPECT_FALSE(c.deleteMode);
}

TEST(KittyGraphicsControl, SplitsControlDataFromPayloadAtFirstSemicolon) {
  std::string text = "a=T,f=100;AAAA;BB=";
  auto command = parseKittyGraphicsControl(std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size()));
  EXPECT_EQ(command.control.action, 'T');
  EXPECT_EQ(command.control.format, 100);
  EXPECT_EQ(payloadOf(command), "AAAA;BB=");
  EXPECT_TRUE(parse("a=q").payload.empty());
}

TEST(KittyGraphicsControl, SkipsMalformedItemsAndKeepsLaterDuplicates) {
  auto c = parse("i=1,i=2,ab=7,i,,=5,I=\xC3\xA9,s=x=1").control;
  EXPECT_EQ(c.imageId, 2u);
  EXPECT_FALSE(c.imageNumber);  // non-ASCII item skipped
  EXPECT_EQ(c.width, 0);        // "x=1" is not a number
  // A later bad value replaces an earlier good one with the default.
  EXPECT_EQ(parse("f=24,f=abc").control.format, 32);
}

TEST(KittyGraphicsControl, ParsesIntegersStrictlyAndClampsThem) {
  struct Case {
    const char* text;
    int64_t expected;
  } cases[] = {
      {"s=+12", 12},
      {"s=-3", -3},
      {"s=", 0},
      {"s=1.5", 0},
      {"s=99999999999999999999", 0},
      {"s=9223372036854775807", int64_t{1} << 32},
      {"s=-9223372036854775808", -(int64_t{1} << 32)},
      {"s=4294967297", int64_t{1} << 32},
  };
  for (const auto& c : cases) EXPECT_EQ(parse(c.text).control.width, c.expected) << c.text;
}

TEST(KittyGraphicsControl, IdsAreUnsigned32BitAndZeroMeansAbsent) {
  EXPECT_EQ(parse("i=4294967295").control.imageId, 4294967295u);
  EXPECT_FALSE(parse("i=4294967296").control.imageId);
  EXPECT_FALSE(parse("i=0").control.imageId);
  EXPECT_FALSE(parse("i=-1").control.imageId);
  EXPECT_EQ(parse("p=+9").control.placementId, 9u);
  auto c = parse("P=3,Q=4,I=5").control;
  EXPECT_EQ(c.parentImageId, 3u);
  EXPECT_EQ(c.parentPlacementId, 4u);
  EXPECT_EQ(c.imageNumber, 5u);
}

TEST(KittyGraphicsControl, MoreIsKeptOnlyForDirectTransmission) {
  EXPECT_EQ(parse("m=1").control.more, 1);
  EXPECT_EQ(parse("m=1,t=f").control.more, 0);
  EXPECT_EQ(parse("t=s,m=1").control.more, 0);
}

TEST(KittyGraphicsControl, CharacterFieldsTakeTheFirstCharacter) {
  auto c = parse("a=delete,o=zlib,d=Image,t=file").control;
  EXPECT_EQ(c.action, 'd');
  EXPECT_EQ(c.compression, 'z');
  EXPECT_EQ(c.deleteMode, 'I');
  EXPECT_EQ(c.transmission, 'f');
  EXPECT_EQ(parse("a=").control.action, 't');
}

TEST(KittyGraphicsReplies, OkBodyListsPresentIdsInOrder) {
  EXPECT_EQ(kittyOkBody(31, std::nullopt, std::nullopt), "Gi=31;OK");
  EXPECT_EQ(kittyOkBody(1, 7, std::nullopt), "Gi=1,I=7;OK");
  EXPECT_EQ(kittyOkBody(1, 7, 3), "Gi=1,I=7,p=3;OK");
  EXPECT_EQ(kittyOkBody(std::nullopt, std::nullopt, 3), "Gp=3;OK");
  EXPECT_EQ(kittyOkBody(std::nullopt, std::nullopt, std::nullopt), "G;OK");
}

TEST(KittyGraphicsReplies, ErrorBodyCarriesIdOrNumberButNeverBoth) {
  KittyGraphicsControl c;
  EXPECT_EQ(kittyErrorBody(c, KittyMessage::unsupportedAction), "G;EINVAL: unsupported action");
  c.imageNumber = 7;
  c.placementId = 2;
  EXPECT_EQ(kittyErrorBody(c, KittyMessage::badPayload), "GI=7;EINVAL: bad payload");
  c.imageId = 5;
  EXPECT_EQ(kittyErrorBody(c, KittyMessage::badPayload), "Gi=5;EINVAL: bad payload");
}
