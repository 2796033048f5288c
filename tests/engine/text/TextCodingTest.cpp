// The one UTF-8 rule and the one base64 decoder every caller shares.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "Vantrelle/Text/Base64.h"
#include "Vantrelle/Text/Utf8.h"

using namespace vantrelle;

namespace {

std::span<const uint8_t> span(const std::string& text) {
  return std::span(reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

std::vector<uint8_t> bytes(const std::string& text) { return {text.begin(), text.end()}; }

struct Utf8Case {
  const char* name;
  std::string text;
  bool valid;
  std::vector<char32_t> shown;  // the scalars decoded for display
};

const Utf8Case kUtf8Cases[] = {
    {"WellFormed", "a \xc3\xa9 \xe2\x82\xac \xf0\x9f\x98\x80", true, {'a', ' ', 0xE9, ' ', 0x20AC, ' ', 0x1F600}},
    {"Empty", "", true, {}},
    {"LastScalar", "\xf4\x8f\xbf\xbf", true, {0x10FFFF}},
    {"StrayContinuation", "\x80", false, {0xFFFD}},
    {"OverlongNul", "\xc0\x80", false, {0xFFFD, 0xFFFD}},
    {"OverlongSlash", "\xc0\xaf", false, {0xFFFD, 0xFFFD}},
    {"OverlongThreeBytes", "\xe0\x80\x80", false, {0xFFFD, 0xFFFD, 0xFFFD}},
    {"Surrogate", "\xed\xa0\x80", false, {0xFFFD, 0xFFFD, 0xFFFD}},
    {"PastLastScalar", "\xf4\x90\x80\x80", false, {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
    {"NoLeadAtAll", "\xf8\x88\x80\x80\x80", false, {0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD, 0xFFFD}},
    // Every byte of a broken sequence is replaced on its own, and what broke it is read again.
    {"Truncated", "\xe2\x82", false, {0xFFFD, 0xFFFD}},
    {"BrokenByAscii",
     "\xe2\x82"
     "A",
     false,
     {0xFFFD, 0xFFFD, 'A'}},
};

class Utf8Rule : public testing::TestWithParam<Utf8Case> {};

TEST_P(Utf8Rule, ValidatesAndDecodesForDisplay) {
  const Utf8Case& c = GetParam();
  EXPECT_EQ(isValidUtf8(c.text), c.valid);
  EXPECT_EQ(validUtf8(span(c.text)).has_value(), c.valid);
  EXPECT_EQ(decodeUtf8Replacing(c.text), c.shown);
  EXPECT_EQ(firstUtf8Scalar(c.text), c.valid && !c.shown.empty() ? c.shown.front() : 0);
}

INSTANTIATE_TEST_SUITE_P(Cases, Utf8Rule, testing::ValuesIn(kUtf8Cases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Utf8, StreamStepsByMaximalSubpartsAndHoldsWhatRunsPastTheEnd) {
  auto step = [](const std::string& text) { return decodeUtf8Step(span(text).data(), text.size()); };
  EXPECT_EQ(step("\xe2\x82\xac").status, Utf8Status::ok);
  EXPECT_EQ(step("\xe2\x82").status, Utf8Status::incomplete);
  EXPECT_EQ(step("\xe2\x82"
                 "A")
                .status,
            Utf8Status::invalid);
  EXPECT_EQ(step("\xe2\x82"
                 "A")
                .consumed,
            2u);                                 // the lead and its one valid continuation
  EXPECT_EQ(step("\xed\xa0\x80").consumed, 1u);  // a surrogate is broken at its second byte
}

TEST(Utf8, WritesOnlyValidText) {
  std::string text;
  for (char32_t c :
       {char32_t('a'), char32_t(0xE9), char32_t(0x20AC), char32_t(0x1F600), char32_t(0xD800), char32_t(0x110000)}) {
    appendUtf8(text, c);
  }
  EXPECT_EQ(text, "a\xc3\xa9\xe2\x82\xac\xf0\x9f\x98\x80\xef\xbf\xbd\xef\xbf\xbd");
  std::vector<uint8_t> raw;
  appendUtf8(raw, 0x20AC);
  EXPECT_EQ(raw, bytes("\xe2\x82\xac"));
}

TEST(Base64, SkipsForeignBytesAndRejectsWhatCannotDecode) {
  EXPECT_EQ(base64Decode(span("aGVs\nbG8=")), bytes("hello"));
  EXPECT_EQ(base64Decode(span("aGVsbG8")), bytes("hello"));  // padding may be dropped
  EXPECT_EQ(base64Decode(span(" aG Vs bG 8= \r\n")), bytes("hello"));
  EXPECT_FALSE(base64Decode(span("aGVsb")));        // a lone 6-bit symbol at the end
  EXPECT_FALSE(base64Decode(span("aG=Vs")));        // data after padding
  EXPECT_FALSE(base64Decode(span("aGVs====")));     // padding on a full group
  EXPECT_FALSE(base64Decode(span("aGVsbG8="), 4));  // bounded output
  EXPECT_EQ(base64Decode(span("")), std::vector<uint8_t>{});
}

TEST(Base64, ChunksMayEachBePaddedOrSplitAnywhere) {
  auto decode = [](std::vector<std::string> chunks, size_t limit = SIZE_MAX) {
    Base64Decoder decoder(limit);
    for (const auto& chunk : chunks) {
      decoder.append(span(chunk));
      decoder.endChunk();
    }
    return decoder.finish();
  };
  // Each chunk padded on its own, or a group split across chunks, joins to one text.
  EXPECT_EQ(decode({"aGVsbG8=", "IHdv", "cmxkIQ=="}), bytes("hello world!"));
  EXPECT_EQ(decode({"aGVsb", "G8gd2", "9ybGQ="}), bytes("hello world"));
  EXPECT_EQ(decode({"aGk=", "", "aGk="}), bytes("hihi"));
  EXPECT_EQ(decode({"aG=", "="}), bytes("h"));  // padding split over two chunks
  // Inside one chunk, padding still ends the text; broken groups stay broken at a chunk's end.
  EXPECT_FALSE(decode({"aGk=aGk="}));
  EXPECT_FALSE(decode({"aGVsb", "aGk="}));     // a lone symbol before the padding
  EXPECT_FALSE(decode({"aG=", "aGk="}));       // a group left short of its padding
  EXPECT_FALSE(decode({"aGVs====", "aGk="}));  // padding on a full group
  EXPECT_FALSE(decode({"aGk=", "a"}));
  EXPECT_FALSE(decode({"aGk=", "aGk="}, 3));  // the limit counts every chunk
}

TEST(Base64, StrictFormTakesOnlyWholePaddedGroups) {
  EXPECT_EQ(base64DecodeStrict(span("aGVsbG8=")), bytes("hello"));
  EXPECT_EQ(base64DecodeStrict(span("aGk=")), bytes("hi"));
  EXPECT_EQ(base64DecodeStrict(span("")), std::vector<uint8_t>{});
  EXPECT_FALSE(base64DecodeStrict(span("aGVsbG8")));     // unpadded
  EXPECT_FALSE(base64DecodeStrict(span("aGVs\nbG8=")));  // white space
  EXPECT_FALSE(base64DecodeStrict(span("aGk=aGk=")));    // fill in the middle
  EXPECT_FALSE(base64DecodeStrict(span("aGVs====")));    // fill on a full group
  EXPECT_FALSE(base64DecodeStrict(span("aG-_")));        // the URL alphabet
  EXPECT_FALSE(base64DecodeStrict(span("aGVsbG8="), 4));
  EXPECT_FALSE(base64DecodeStrict(span(std::string(400, 'A')), 16));
  const std::vector<uint8_t> all = [] {
    std::vector<uint8_t> v;
    for (int b = 0; b < 256; ++b) v.push_back(uint8_t(b));
    return v;
  }();
  for (size_t cut : {0, 1, 2, 255, 256}) {
    const std::vector<uint8_t> data(all.begin(), all.begin() + std::ptrdiff_t(cut));
    EXPECT_EQ(base64DecodeStrict(span(base64Encode(data))), data) << cut;
  }
}

}  // namespace
