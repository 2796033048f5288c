#include <gtest/gtest.h>

#include "engine/terminal/TestHost.h"

using namespace vantrelle;
using namespace vantrelle::testing;

namespace {

// Records the delegate calls these families make.
struct RecordingHost : TestHost {
  int shows = 0, hides = 0, sizeChanges = 0, bufferSwitches = 0, mouseChanges = 0, styleChanges = 0;
  std::vector<bool> syncChanges;
  std::vector<std::string> iconTitles;
  std::vector<WindowManipulationCommand> commands;
  std::optional<CellSize> cellSize;
  std::optional<Bytes> windowReply;
  bool trusted = true;

  void showCursor(Terminal&) override { shows++; }
  void hideCursor(Terminal&) override { hides++; }
  void sizeChanged(Terminal&) override { sizeChanges++; }
  void bufferActivated(Terminal&) override { bufferSwitches++; }
  void mouseModeChanged(Terminal&) override { mouseChanges++; }
  void cursorStyleChanged(Terminal&, CursorStyle) override { styleChanges++; }
  void synchronizedOutputChanged(Terminal&, bool active) override { syncChanges.push_back(active); }
  void setTerminalIconTitle(Terminal&, const std::string& title) override { iconTitles.push_back(title); }
  bool isProcessTrusted(Terminal&) override { return trusted; }
  std::optional<CellSize> cellSizeInPixels(Terminal&) override { return cellSize; }
  std::optional<Bytes> windowCommand(Terminal&, const WindowManipulationCommand& command) override {
    commands.push_back(command);
    return windowReply;
  }
};

// A scheduler the test fires by hand.
struct ManualScheduler : WorkScheduler {
  struct Work : ScheduledWork {
    std::function<void()> work;
    bool cancelled = false;
    void cancel() override { cancelled = true; }
  };
  std::vector<std::shared_ptr<Work>> scheduled;
  std::shared_ptr<ScheduledWork> schedule(double, std::function<void()> work) override {
    auto item = std::make_shared<Work>();
    item->work = std::move(work);
    scheduled.push_back(item);
    return item;
  }
  void fireAll() {
    for (auto& item : scheduled)
      if (!item->cancelled) item->work();
  }
};

struct Screen {
  RecordingHost host;
  Terminal t;
  explicit Screen(int cols = 80, int rows = 25) : t(&host, sized(cols, rows)) {}
  std::string reply(std::string_view bytes) {
    host.sent.clear();
    t.feed(bytes);
    return host.sent;
  }
};

}  // namespace

TEST(DeviceReports, AttributesStatusAndCursorPosition) {
  Screen s;
  EXPECT_EQ(s.reply("\x1b[c"), "\x1b[?65;4;1;2;6;21;22;17;28c");
  EXPECT_EQ(s.reply("\x1b[0c"), "\x1b[?65;4;1;2;6;21;22;17;28c");
  EXPECT_EQ(s.reply("\x1b[1c"), "");
  EXPECT_EQ(s.reply("\x1b[>c"), "\x1b[>65;20;1c");
  EXPECT_EQ(s.reply("\x1b[=c"), "");
  EXPECT_EQ(s.reply("\x1b[5n"), "\x1b[0n");
  EXPECT_EQ(s.reply("\x1b[3;7H\x1b[6n"), "\x1b[3;7R");
  EXPECT_EQ(s.reply("\x1b[?6n"), "\x1b[?3;7;1R");
  EXPECT_EQ(s.reply("\x1b[?15n"), "\x1b[?10n");
  EXPECT_EQ(s.reply("\x1b[?26n"), "\x1b[?27;1;0;0n");
  EXPECT_EQ(s.reply("\x1b[?63;7n"), "\x1bP7!~0000\x1b\\");
  EXPECT_EQ(s.reply("\x1b[?99n"), "");

  Screen linux;
  linux.t.options.termName = "linux";
  EXPECT_EQ(linux.reply("\x1b[c"), "\x1b[?6c");
  linux.t.options.termName = "vt100";
  EXPECT_EQ(linux.reply("\x1b[c"), "");
}

TEST(DeviceReports, OriginModePositionsNeverBelowOne) {
  Screen s;
  s.t.feed("\x1b[5;20r\x1b[?6h");
  EXPECT_EQ(s.reply("\x1b[1;1H\x1b[6n"), "\x1b[1;1R");
  // A cursor above the region (moved there before origin mode) reports row 1, not 0 or less.
  s.t.feed("\x1b[?6l\x1b[2;1H\x1b[?6h");
  s.t.buffer->y = 1;
  EXPECT_EQ(s.reply("\x1b[6n"), "\x1b[1;1R");
  EXPECT_EQ(s.reply("\x1b[?6n"), "\x1b[?1;1;1R");
}

TEST(DeviceReports, ModeRequestsAndEightBitReplies) {
  Screen s;
  EXPECT_EQ(s.reply("\x1b[20$p"), "\x1b[20;2$y");
  EXPECT_EQ(s.reply("\x1b[4h\x1b[4$p"), "\x1b[4;1$y");
  EXPECT_EQ(s.reply("\x1b[1$p"), "\x1b[1;4$y");
  EXPECT_EQ(s.reply("\x1b[?1049$p"), "\x1b[?1049;0$y");
  EXPECT_EQ(s.reply("\x1b[?2026h\x1b[?2026$p"), "\x1b[?2026;1$y");
  EXPECT_EQ(s.reply("\x1b[?25l\x1b[?25$p"), "\x1b[?25;2$y");
  EXPECT_EQ(s.reply("\x1b[?1006h\x1b[?1006$p"), "\x1b[?1006;1$y");
  EXPECT_EQ(s.reply("\x1b[?5h\x1b[?5$p"), "\x1b[?5;1$y");
  EXPECT_EQ(s.reply("\x1b[62;0\"p\x1b[5n"),
            "\x9b"
            "0n");
  EXPECT_EQ(s.reply("\x1b[?63;3n"),
            "\x90"
            "3!~0000\x9c");
  EXPECT_EQ(s.reply("\x1b[61;2\"p\x1b[5n"), "\x1b[0n");
  EXPECT_EQ(s.t.conformance, TerminalConformance::vt100);
}

// Every mode the terminal acts on reports what was last set: setting and reporting must not
// drift apart.
TEST(DeviceReports, ModesReportWhatWasSet) {
  for (const char* prefix : {"?", ""}) {
    const std::vector<int> modes =
        *prefix ? std::vector<int>{1,  3,  4,    5,    6,    7,    9,    12,   25,   40,   45,   47,
                                   66, 69, 1000, 1002, 1003, 1004, 1005, 1006, 1015, 1016, 2004, 2026}
                : std::vector<int>{4, 20};
    for (int mode : modes) {
      Screen s;
      const std::string number = prefix + std::to_string(mode);
      if (number == "?3") s.t.feed("\x1b[?40h");  // the column switch waits to be allowed
      for (const char* final : {"h", "l"}) {
        s.t.feed("\x1b[" + number + final);
        EXPECT_EQ(s.reply("\x1b[" + number + "$p"), "\x1b[" + number + (*final == 'h' ? ";1$y" : ";2$y"));
      }
    }
  }
}

TEST(DeviceReports, SettingRequests) {
  Screen s(80, 24);
  EXPECT_EQ(s.reply("\x1bP$qr\x1b\\"), "\x1bP1$r1;24r\x1b\\");
  EXPECT_EQ(s.reply("\x1bP$q\"p\x1b\\"), "\x1bP1$r65;1\"p\x1b\\");
  EXPECT_EQ(s.reply("\x1bP$q q\x1b\\"), "\x1bP1$r1 q\x1b\\");  // the blinking block in force
  EXPECT_EQ(s.reply("\x1bP$qx\x1b\\"), "\x1bP0$r\x1b\\");
  EXPECT_EQ(s.reply("\x1bP$q" + std::string(100000, 'r') + "\x1b\\"), "\x1bP0$r\x1b\\");
  EXPECT_EQ(s.reply("\x1b[5;10r\x1bP$qr\x1b\\"), "\x1bP1$r5;10r\x1b\\");
  EXPECT_EQ(s.reply("\x1bP$qm\x1b\\").substr(0, 6), "\x1bP1$r0");
}

TEST(Modes, AlternateScreenCursorAndBufferSwitches) {
  Screen s(20, 5);
  s.t.feed("normal\x1b[2;4H\x1b[?1049h");
  EXPECT_TRUE(s.t.isCurrentBufferAlternate());
  s.t.feed("\x1b[Halt text");
  s.t.feed("\x1b[?1049l");
  EXPECT_FALSE(s.t.isCurrentBufferAlternate());
  EXPECT_EQ(rowText(s.t, 0), "normal");
  EXPECT_EQ(cursor(s.t), std::make_pair(3, 1));
  EXPECT_EQ(s.host.bufferSwitches, 2);
  s.t.feed("\x1b[?1049h");
  EXPECT_EQ(rowText(s.t, 0), "");  // left cleared

  Screen c;
  c.t.feed("\x1b[?25l\x1b[?25l");
  EXPECT_EQ(c.host.hides, 1);
  c.t.feed("\x1b[?1;7;25h");
  EXPECT_TRUE(c.t.applicationCursor);
  EXPECT_EQ(c.host.shows, 1);
  c.t.feed("\x1b[?7l\x1b[?45h");
  EXPECT_FALSE(c.t.reverseWraparound);
  c.t.feed("\x1b[2 q\x1b[2 q\x1b[7 q");
  EXPECT_EQ(c.host.styleChanges, 1);
  EXPECT_EQ(c.t.options.cursorStyle, CursorStyle::steadyBlock);
  const int mouseChanges = c.host.mouseChanges;
  c.t.feed("\x1b[?1002h\x1b[?1002l");
  EXPECT_EQ(c.host.mouseChanges, mouseChanges + 2);
}

TEST(Modes, RegionsMarginsAndColumnSwitch) {
  Screen s(80, 24);
  s.t.feed("\x1b[10;10H\x1b[5;2r");
  EXPECT_EQ(s.t.buffer->scrollTop, 0);
  EXPECT_EQ(cursor(s.t), std::make_pair(0, 0));
  s.t.feed("\x1b[3;99r");
  EXPECT_EQ(s.t.buffer->scrollTop, 2);
  EXPECT_EQ(s.t.buffer->scrollBottom, 23);
  // Turning left/right margin mode off also drops the margins it set.
  s.t.feed("\x1b[?69h\x1b[10;20s\x1b[?69l");
  EXPECT_EQ(s.t.buffer->marginLeft, 0);
  EXPECT_EQ(s.t.buffer->marginRight, 79);
  s.t.feed("\x1b[?69h");
  s.t.feed("\x1b[1;1Habcdefghij");
  EXPECT_EQ(rowText(s.t, 0), "abcdefghij");

  Screen c(80, 5);
  c.t.feed("1\r\n2\r\n3\r\n4\r\n5\r\n6\r\n7\x1b[2;4r\x1b[?69h\x1b[5;9s\x1b[3;3H");
  const int scrollback = c.t.buffer->yBase;
  ASSERT_GT(scrollback, 0);
  c.t.feed("\x1b[?40l\x1b[?3h");
  EXPECT_EQ(c.t.cols, 80);  // not allowed
  c.t.feed("\x1b[?40h\x1b[?3h");
  EXPECT_EQ(c.t.cols, 132);
  EXPECT_EQ(screenText(c.t), "");
  EXPECT_EQ(cursor(c.t), std::make_pair(0, 0));
  EXPECT_EQ(c.t.buffer->scrollTop, 0);
  EXPECT_EQ(c.t.buffer->scrollBottom, 4);
  EXPECT_EQ(c.t.buffer->marginRight, 131);
  EXPECT_GE(c.t.buffer->yBase, scrollback);  // the scrollback survives
  EXPECT_EQ(c.host.sizeChanges, 1);
}

TEST(Resets, SoftAndFullResetAndSynchronizedOutput) {
  Screen s(20, 5);
  s.t.feed("keep\x1b[2;4r\x1b[4h\x1b[?7l\x1b[?25l\x1b[3;3H\x1b[!p");
  EXPECT_EQ(s.t.buffer->scrollTop, 0);
  EXPECT_EQ(s.t.buffer->scrollBottom, 4);
  EXPECT_TRUE(s.t.wraparound);
  EXPECT_EQ(s.host.shows, 1);
  EXPECT_EQ(cursor(s.t), std::make_pair(2, 2));
  // Insert mode is off in the buffers too: printing overwrites.
  s.t.feed("\x1b[1;1HXY");
  EXPECT_EQ(rowText(s.t, 0), "XYep");

  s.t.feed(
      "\x1b[?25l\x1b[4;4Hmore\x1b"
      "c");
  EXPECT_TRUE(s.t.cursorHidden);
  EXPECT_EQ(cursor(s.t), std::make_pair(0, 0));
  EXPECT_EQ(screenText(s.t), "");

  ManualScheduler scheduler;
  Screen sync;
  sync.t.scheduler = &scheduler;
  sync.t.feed("\x1b[?2026h\x1b[?2026h");
  EXPECT_EQ(sync.host.syncChanges, std::vector<bool>{true});
  ASSERT_EQ(scheduler.scheduled.size(), 2u);
  EXPECT_TRUE(scheduler.scheduled[0]->cancelled);  // restarted
  sync.t.clearUpdateRange();
  scheduler.fireAll();
  EXPECT_EQ(sync.host.syncChanges, (std::vector<bool>{true, false}));
  EXPECT_EQ(sync.t.getUpdateRange()->startY, 0);
  sync.t.feed("\x1b[?2026l");
  EXPECT_EQ(sync.host.syncChanges.size(), 2u);
}

TEST(MouseReports, EncodingsButtonsAndModes) {
  Screen s;
  s.t.feed("\x1b[?1000h\x1b[?1006h");
  auto send = [&](int flags, int x, int y) {
    s.host.sent.clear();
    s.t.sendEvent(flags, x, y);
    return s.host.sent;
  };
  EXPECT_EQ(send(s.t.encodeButton(3, false, false, false, true), 0, 0), "\x1b[<16;1;1M");
  EXPECT_EQ(send(19, 0, 0), "\x1b[<16;1;1m");
  // A release built by encodeButton names its button.
  EXPECT_EQ(send(s.t.encodeButton(2, true, false, false, false), 4, 5), "\x1b[<2;5;6m");
  EXPECT_EQ(send(s.t.encodeButton(4, false, false, false, false), 0, 0), "\x1b[<64;1;1M");
  s.host.sent.clear();
  s.t.sendMotion(0, 2, 3);
  EXPECT_EQ(s.host.sent, "\x1b[<32;3;4M");

  s.t.feed("\x1b[?1006l\x1b[?1015h");
  EXPECT_EQ(send(64, 0, 0), "\x1b[96;1;1M");
  EXPECT_EQ(send(s.t.encodeButton(1, true, false, false, false), 0, 0), "\x1b[35;1;1M");
  s.t.feed("\x1b[?1015l");
  EXPECT_EQ(send(0, 300, 222), std::string("\x1b[M ") + "\xff\xff");
  s.t.feed("\x1b[?1005h");
  EXPECT_EQ(send(0, 94, 95), std::string("\x1b[M \x7f\xc2\x80"));
  EXPECT_EQ(send(0, 2014, 5000), std::string("\x1b[M \xdf\xbf\xdf\xbf"));  // never a NUL

  Screen x10;
  x10.t.feed("\x1b[?9h");
  x10.t.sendEvent(x10.t.encodeButton(3, false, true, false, true), 0, 0);
  EXPECT_EQ(x10.host.sent, "\x1b[M !!");
  x10.host.sent.clear();
  x10.t.sendEvent(x10.t.encodeButton(3, true, false, false, false), 0, 0);
  x10.t.sendMotion(0, 1, 1);
  EXPECT_EQ(x10.host.sent, "");  // presses only

  Screen eight;
  eight.t.feed("\x1b[?1000h\x1b[62;2\"p");
  eight.t.sendEvent(0, 0, 0);
  EXPECT_EQ(eight.host.sent, "\x9bM !!");
}

TEST(WindowOperations, ReportsActionsAndTitleStacks) {
  Screen s(80, 25);
  EXPECT_EQ(s.reply("\x1b[18t"), "\x1b[8;25;80t");
  EXPECT_EQ(s.reply("\x1b[14t"), "\x1b[4;400;800t");
  EXPECT_EQ(s.reply("\x1b[16t"), "\x1b[6;16;10t");
  s.host.cellSize = CellSize{8, 17};
  EXPECT_EQ(s.reply("\x1b[14t"), "\x1b[4;425;640t");
  s.host.windowReply = Bytes{'o', 'k'};
  EXPECT_EQ(s.reply("\x1b[19t"), "ok");
  s.host.windowReply.reset();
  s.t.setTitle("secret");
  EXPECT_EQ(s.reply("\x1b[21t"), "\x1b]l\x1b\\");
  EXPECT_EQ(s.reply("\x1b[9t\x1b[9;4t"), "");

  s.host.commands.clear();
  s.t.feed("\x1b[4;300;500t\x1b[9;1t\x1b[2t");
  ASSERT_EQ(s.host.commands.size(), 3u);
  EXPECT_EQ(s.host.commands[0], (WindowManipulationCommand{WindowManipulationCommand::Kind::resizeWindowTo, 500, 300}));
  EXPECT_EQ(s.host.commands[1].kind, WindowManipulationCommand::Kind::maximizeWindow);
  EXPECT_EQ(s.host.commands[2].kind, WindowManipulationCommand::Kind::iconifyWindow);

  s.t.setIconTitle("icon-a");
  s.t.feed("\x1b[22;1t");
  s.t.setIconTitle("icon-b");
  s.t.feed("\x1b[23;1t\x1b[23;2t");
  EXPECT_EQ(s.t.iconTitle(), "icon-a");
  EXPECT_EQ(s.host.iconTitles.back(), "icon-a");
  EXPECT_EQ(s.t.terminalTitle(), "secret");
  // The stacks are bounded: a flood of pushes keeps only the newest.
  for (int i = 0; i < 10000; i++) s.t.feed("\x1b[22;0t");
  EXPECT_LE(s.t.titles.windowStack.size(), 10u);
}

// What the title stacks hold stays within 1 MiB each, also for titles as long as a program may
// send (8 MiB): such a title keeps its first MiB, cut at a character's edge, and comes back so.
TEST(WindowOperations, TitleStacksHoldAtMostAMebibyteEach) {
  Screen s(80, 25);
  constexpr size_t bound = size_t(1) << 20;
  auto held = [](const std::vector<std::string>& stack) {
    size_t bytes = 0;
    for (const auto& title : stack) bytes += title.size();
    return bytes;
  };
  // One byte, then two-byte characters: the bound falls inside a character.
  std::string longest = "x";
  while (longest.size() + 2 <= (size_t(8) << 20) - 4) longest += "\xc3\xa9";
  for (const char* osc : {"2", "1"}) {
    for (int i = 0; i < 5; i++) {
      const std::string title = i % 3 ? longest : "short " + std::to_string(i);
      s.t.feed(std::string("\x1b]") + osc + ";" + title + "\x1b\\\x1b[22;0t");
      EXPECT_LE(held(s.t.titles.windowStack), bound) << osc << ", push " << i;
      EXPECT_LE(held(s.t.titles.iconStack), bound) << osc << ", push " << i;
    }
  }
  ASSERT_EQ(s.t.iconTitle().size(), longest.size());
  s.t.feed("\x1b[23;0t");
  EXPECT_EQ(s.t.iconTitle(), longest.substr(0, bound - 1));
  EXPECT_EQ(s.t.terminalTitle(), longest.substr(0, bound - 1));
  EXPECT_EQ(s.host.iconTitles.back(), longest.substr(0, bound - 1));
  // A title within the bound comes back whole.
  s.t.feed("\x1b]2;short\x1b\\\x1b[22;2t\x1b]2;other\x1b\\\x1b[23;2t");
  EXPECT_EQ(s.t.terminalTitle(), "short");
}

TEST(WindowOperations, NothingWithoutDelegate) {
  Terminal t(nullptr, sized(10, 5));
  t.feed("\x1b[22;0t");
  EXPECT_TRUE(t.titles.windowStack.empty());
}
