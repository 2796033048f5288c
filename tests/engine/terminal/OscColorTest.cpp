#include <gtest/gtest.h>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using testing::sized;
using testing::TestHost;

struct ColorHost : TestHost {
  std::vector<std::optional<int>> changes;
  int fgCalls = 0;
  bool writeBack = true;
  void colorChanged(Terminal&, std::optional<int> idx) override { changes.push_back(idx); }
  void setForegroundColor(Terminal& source, const Color& color) override {
    ++fgCalls;
    if (writeBack) TerminalDelegate::setForegroundColor(source, color);
  }
};

std::string osc(const std::string& body) { return "\x1b]" + body + "\x07"; }

TEST(OscColors, QueriesAnswerWithStInBothIntroducerForms) {
  ColorHost host;
  Terminal t(&host, sized(10, 3));
  t.foregroundColor = Color(0xffff, 0x8000, 0);
  t.backgroundColor = Color(0x1111, 0x2222, 0x3333);
  t.feed(osc("10;?"));
  EXPECT_EQ(host.sent, "\x1b]10;rgb:ffff/8000/0000\x1b\\");
  host.sent.clear();
  t.feed(osc("10;?;?") + osc("12;?"));  // two slots; no cursor colour: the foreground
  EXPECT_EQ(host.sent,
            "\x1b]10;rgb:ffff/8000/0000\x1b\\\x1b]11;rgb:1111/2222/3333\x1b\\\x1b]12;rgb:ffff/8000/0000\x1b\\");
  host.sent.clear();
  t.cc.send8bit = true;
  t.feed(osc("11;?"));
  EXPECT_EQ(host.sent,
            "\x9d"
            "11;rgb:1111/2222/3333\x9c");
}

TEST(OscColors, SettingDefaultColours) {
  ColorHost host;
  Terminal t(&host, sized(10, 3));
  t.feed(osc("10;;#ff0000"));  // empty pieces are dropped: still the foreground
  EXPECT_EQ(t.foregroundColor, Color(0xffff, 0, 0));
  t.feed(osc("12;#00ff00"));
  EXPECT_EQ(t.cursorColor, Color(0, 0xffff, 0));
  t.feed(osc("112"));
  EXPECT_FALSE(t.cursorColor);

  // A host that does not write back sees the property rule's call and the direct one.
  ColorHost plain;
  plain.writeBack = false;
  Terminal u(&plain, sized(10, 3));
  u.feed(osc("10;#123456"));
  EXPECT_EQ(plain.fgCalls, 2);
  EXPECT_EQ(plain.changes, std::vector<std::optional<int>>{std::nullopt});
}

TEST(OscColors, PaletteEntries) {
  ColorHost host;
  Terminal t(&host, sized(10, 3));
  const Color derived1 = t.ansiColors[1];
  t.feed(osc("4;1;?;300;?"));
  EXPECT_EQ(host.sent, "\x1b]4;1;" + derived1.formatAsXcolor() + "\x1b\\");
  host.sent.clear();
  t.feed(osc("4;x;?"));
  EXPECT_EQ(host.sent, "");

  t.feed(osc("4;1;#00ff00;2;rgb:ff/00/00;3;nonsense"));
  EXPECT_EQ(t.ansiColors[1], Color(0, 0xffff, 0));
  EXPECT_EQ(t.ansiColors[2], Color(0xffff, 0, 0));
  EXPECT_EQ(host.changes, (std::vector<std::optional<int>>{1, 2}));

  host.changes.clear();
  t.feed(osc("104;2;999"));
  EXPECT_EQ(t.ansiColors[2], t.defaultAnsiColors[2]);
  EXPECT_EQ(t.ansiColors[1], Color(0, 0xffff, 0));
  EXPECT_EQ(host.changes, std::vector<std::optional<int>>{2});
  t.feed(osc("4;0;#010203") + osc("104;abc"));
  EXPECT_EQ(t.ansiColors[0], t.defaultAnsiColors[0]);

  host.changes.clear();
  t.feed(osc("104"));
  EXPECT_EQ(t.ansiColors[1], derived1);
  EXPECT_EQ(host.changes, std::vector<std::optional<int>>{std::nullopt});
}

TEST(OscColors, RebuildsFollowTheStrategy) {
  ColorHost host;
  Terminal t(&host, sized(10, 3));
  t.feed(osc("4;1;#00ff00"));
  t.feed(osc("11;#202020"));  // base16Lab: the palette is derived again
  EXPECT_NE(t.ansiColors[1], Color(0, 0xffff, 0));
  EXPECT_EQ(t.ansiColors, t.defaultAnsiColors);

  t.setAnsi256PaletteStrategy(Ansi256PaletteStrategy::xterm);
  t.feed(osc("4;1;#00ff00") + osc("11;#303030"));
  EXPECT_EQ(t.ansiColors[1], Color(0, 0xffff, 0));
  // A soft reset puts the palette back but keeps the default colours.
  t.feed("\x1b[!p");
  EXPECT_EQ(t.ansiColors, t.defaultAnsiColors);
  EXPECT_EQ(t.backgroundColor, Color(0x3030, 0x3030, 0x3030));
}

}  // namespace
}  // namespace vantrelle
