#include <gtest/gtest.h>

#include "engine/terminal/TestHost.h"

namespace vantrelle {
namespace {

using testing::sized;
using testing::TestHost;

struct OscHost : TestHost {
  bool trusted = true;
  int directoryUpdates = 0;
  std::vector<ProgressReport> progress;
  std::vector<std::string> copied;
  std::optional<Bytes> clipboard;
  std::vector<std::pair<std::string, std::string>> notes;
  std::vector<std::string> iTerm;
  struct Image {
    std::string data;
    ImageSizeRequest width, height;
    bool preserve;
  };
  std::vector<Image> images;

  bool isProcessTrusted(Terminal&) override { return trusted; }
  void hostCurrentDirectoryUpdated(Terminal&) override { ++directoryUpdates; }
  void progressReport(Terminal&, const ProgressReport& report) override { progress.push_back(report); }
  void clipboardCopy(Terminal&, std::span<const uint8_t> content) override {
    copied.emplace_back(content.begin(), content.end());
  }
  std::optional<Bytes> clipboardRead(Terminal&) override { return clipboard; }
  void notify(Terminal&, const std::string& title, const std::string& body) override {
    notes.emplace_back(title, body);
  }
  void iTermContent(Terminal&, std::span<const uint8_t> content) override {
    iTerm.emplace_back(content.begin(), content.end());
  }
  void createImage(Terminal&, std::span<const uint8_t> data, ImageSizeRequest width, ImageSizeRequest height,
                   bool preserve) override {
    images.push_back({std::string(data.begin(), data.end()), width, height, preserve});
  }
};

std::string osc(const std::string& body) { return "\x1b]" + body + "\x1b\\"; }

TEST(Osc, TitlesDirectoryAndNotifications) {
  OscHost host;
  Terminal t(&host, sized(20, 4));
  t.feed(osc("0;caf\xc3\xa9") + osc("1;icon") + "\x1b]2;bad \xff\x07");
  EXPECT_EQ(host.titles, (std::vector<std::string>{"caf\xc3\xa9", ""}));
  EXPECT_EQ(t.iconTitle(), "icon");

  t.feed(osc("7;file://host/tmp"));
  EXPECT_EQ(t.hostCurrentDirectory, "file://host/tmp");
  host.trusted = false;
  t.feed(osc("7;file://host/elsewhere"));
  EXPECT_EQ(t.hostCurrentDirectory, "file://host/tmp");
  EXPECT_EQ(host.directoryUpdates, 1);

  t.feed(osc("777;notify;T;a;b") + osc("777;notify;T") + osc("777;other;T;b"));
  ASSERT_EQ(host.notes.size(), 1u);
  EXPECT_EQ(host.notes[0], std::make_pair(std::string("T"), std::string("a;b")));
}

TEST(Osc, ProgressReports) {
  OscHost host;
  Terminal t(&host, sized(20, 4));
  using S = ProgressReportState;
  t.feed(osc("9;4;1") + osc("9;4;3") + osc("9;4;1;250") + osc("9;4;1;-5") + osc("9;4;0;40") + osc("9;4;1;x") +
         osc("9;4;5") + osc("9;4;2;+7"));
  const std::vector<ProgressReport> expected{{S::set, 0}, {S::indeterminate, std::nullopt}, {S::set, 100},
                                             {S::set, 0}, {S::remove, std::nullopt},        {S::error, 7}};
  EXPECT_EQ(host.progress, expected);
}

TEST(Osc, ClipboardCopyAndQuery) {
  OscHost host;
  Terminal t(&host, sized(20, 4));
  t.feed(osc("52;c;aGk=") + osc("52;c;") + osc("52;c;??") + osc("52;c;aG k=") + osc("52;c;aGk") + osc("52;nodata"));
  EXPECT_EQ(host.copied, (std::vector<std::string>{"hi", ""}));

  t.feed(osc("52;c;?"));
  EXPECT_EQ(host.sent, "");  // the host has nothing to give
  host.clipboard = Bytes{'h', 'i'};
  t.feed(osc("52;c;?") + "\x1b]52;;?\x07");
  EXPECT_EQ(host.sent, "\x1b]52;c;aGk=\x1b\\\x1b]52;c;aGk=\x1b\\");
  host.sent.clear();
  t.cc.send8bit = true;
  t.feed(osc("52;p;?"));
  EXPECT_EQ(host.sent,
            "\x9d"
            "52;p;aGk=\x9c");
}

TEST(Osc, InlineImagesAndOtherITermCommands) {
  OscHost host;
  Terminal t(&host, sized(20, 4));
  using K = ImageSizeRequest::Kind;
  t.feed(osc("1337;File=inline=1;width=50%;height=auto:aGk="));
  ASSERT_EQ(host.images.size(), 1u);
  EXPECT_EQ(host.images[0].data, "hi");
  EXPECT_EQ(host.images[0].width, (ImageSizeRequest{K::percent, 50}));
  EXPECT_EQ(host.images[0].height, ImageSizeRequest{});
  EXPECT_TRUE(host.images[0].preserve);

  struct Case {
    std::string params;
    ImageSizeRequest width;
    bool preserve;
  };
  const std::vector<Case> cases{
      {"width=0", {}, true},
      {"width=200", {}, true},
      {"width=4096px", {}, true},
      {"width=101%", {}, true},
      {"width=199", {K::cells, 199}, true},
      {"width=4095px", {K::pixels, 4095}, true},
      {"width=100%", {K::percent, 100}, true},
      {"preserveAspectRatio=0", {}, false},
      {"preserveAspectRatio=true", {}, false},
      {"width=7;bogus;width=9", {K::cells, 7}, true},
  };
  for (const auto& c : cases) {
    host.images.clear();
    t.feed(osc("1337;File=inline=1;" + c.params + ":aGk="));
    ASSERT_EQ(host.images.size(), 1u) << c.params;
    EXPECT_EQ(host.images[0].width, c.width) << c.params;
    EXPECT_EQ(host.images[0].preserve, c.preserve) << c.params;
  }

  host.images.clear();
  t.feed(osc("1337;File=inline=1:aG k=") + osc("1337;SetMark") + osc("1337;File=name=abc:aGk=") +
         osc("1337;File=inline=0:aGk=") + osc("1337;CurrentDir=/tmp"));
  EXPECT_TRUE(host.images.empty());
  EXPECT_EQ(host.iTerm, (std::vector<std::string>{"File=name=abc:aGk=", "File=inline=0:aGk=", "CurrentDir=/tmp"}));
}

}  // namespace
}  // namespace vantrelle
