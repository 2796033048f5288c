// Real programs on a real pseudo-terminal through HeadlessTerminal.
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>

#include "HeadlessHarness.h"

using namespace vantrelle;
using namespace vantrelle::testing;

namespace {

std::filesystem::path scratchFile(const std::string& name) {
  return std::filesystem::temp_directory_path() / (name + "-" + std::to_string(getpid()));
}

bool contains(const std::string& text, const std::string& part) { return text.find(part) != std::string::npos; }

uint64_t fnv1a(uint64_t hash, std::span<const uint8_t> bytes) {
  for (uint8_t b : bytes) hash = (hash ^ b) * 1099511628211ull;
  return hash;
}

}  // namespace

TEST(RealPrograms, VimEditsOnTheAlternateScreenAndRestoresTheNormalOne) {
  auto file = scratchFile("vim-edit");
  std::string script = "printf 'line one\\nline two\\n'; exec vim -u NONE -N '";
  script += file.string();
  script += "'";
  std::filesystem::remove(file);
  HeadlessHarness h(60, 12);
  h.start("/bin/sh", {"-c", script});
  ASSERT_TRUE(h.waitForScreen([](const std::string& s) { return contains(s, "~"); }));
  EXPECT_TRUE(h.terminal->isCurrentBufferAlternate());
  h.type("ihello from vim\x1b");
  ASSERT_TRUE(h.waitForScreen([&](const std::string&) { return h.row(0) == "hello from vim"; }));
  h.type(":wq\r");
  ASSERT_TRUE(h.waitForEnd());
  EXPECT_EQ(h.exitCode, 0);
  EXPECT_FALSE(h.terminal->isCurrentBufferAlternate());
  EXPECT_EQ(h.row(0), "line one");
  EXPECT_EQ(h.row(1), "line two");
  std::ifstream in(file);
  EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "hello from vim\n");
  std::filesystem::remove(file);
}

TEST(RealPrograms, LessScrollsAndSearches) {
  auto file = scratchFile("less-long");
  {
    std::ofstream out(file);
    for (int i = 1; i <= 2000; i++) out << "line " << i << "\n";
  }
  HeadlessHarness h(40, 10);
  h.start("/usr/bin/less", {file.string()});
  // The first page is whole once the prompt below it is drawn; its top line may come in an
  // earlier read than the rest.
  ASSERT_TRUE(h.waitForScreen([&](const std::string&) { return h.row(0) == "line 1" && !h.row(9).empty(); }))
      << h.screen();
  EXPECT_EQ(h.row(8), "line 9");
  h.type(" ");  // a page: the nine text rows above the prompt
  ASSERT_TRUE(h.waitForScreen([&](const std::string&) { return h.row(0) == "line 10"; }));
  h.type("/line 1500\r");
  ASSERT_TRUE(h.waitForScreen([&](const std::string&) { return h.row(0) == "line 1500"; }));
  h.type("k");
  ASSERT_TRUE(h.waitForScreen([&](const std::string&) { return h.row(0) == "line 1499"; }));
  h.type("q");
  EXPECT_TRUE(h.waitForEnd());
  std::filesystem::remove(file);
}

TEST(RealPrograms, TerminalQueriesAreAnswered) {
  HeadlessHarness h(72, 20);
  h.start("/bin/sh",
          {"-c",
           "tput cols; tput lines; stty -echo -icanon min 1; printf '\\033[5;9H\\033[6n';"
           " r=$(dd bs=1 count=6 2>/dev/null); stty sane; printf '\\r\\nreply:%s\\n' \"$r\" | tr '\\033' E"});
  ASSERT_TRUE(h.waitForEnd());
  EXPECT_EQ(h.row(0), "72");
  EXPECT_EQ(h.row(1), "20");
  EXPECT_TRUE(contains(h.screen(), "reply:E[5;9R")) << h.screen();
}

TEST(RealPrograms, ResizeReachesTheChild) {
  HeadlessHarness h(80, 24);
  h.start("/bin/sh", {"-c", "stty size; read x; stty size"});
  ASSERT_TRUE(h.waitForScreen([&](const std::string&) { return h.row(0) == "24 80"; }));
  winsize reported = h.getWindowSize();
  EXPECT_EQ(reported.ws_xpixel, 16);
  EXPECT_EQ(reported.ws_ypixel, 16);
  h.resize(100, 30);
  h.type("\r");
  ASSERT_TRUE(h.waitForEnd());
  EXPECT_TRUE(contains(h.screen(), "30 100")) << h.screen();
}

TEST(RealPrograms, HundredMegabyteCatArrivesWholeWithinTheBackPressureBound) {
  auto file = scratchFile("cat-flood");
  uint64_t expectedHash = 1469598103934665603ull;
  size_t expectedSize = 0;
  {
    std::ofstream out(file, std::ios::binary);
    std::string line;
    for (int i = 0; expectedSize < 100'000'000; i++) {
      line = std::to_string(i);
      line += " the quick brown fox jumps over the lazy dog 0123456789";
      out << line << '\n';
      line += "\r\n";  // the pty turns each newline into CR LF
      expectedHash = fnv1a(expectedHash, {reinterpret_cast<const uint8_t*>(line.data()), line.size()});
      expectedSize += line.size();
    }
  }
  HeadlessHarness h(80, 24);
  h.changeScrollback(1000);
  uint64_t hash = 1469598103934665603ull;
  size_t maxPending = 0;
  h.onData = [&](std::span<const uint8_t> slice) {
    hash = fnv1a(hash, slice);
    maxPending = std::max(maxPending, h.process->pendingBytes());
  };
  h.start("/bin/cat", {file.string()});
  bool ended = h.waitForEnd(std::chrono::seconds(120));
  std::filesystem::remove(file);
  ASSERT_TRUE(ended);
  EXPECT_EQ(h.received, expectedSize);
  EXPECT_EQ(hash, expectedHash);
  EXPECT_LE(maxPending, LocalProcess::pendingHighWaterBytes + LocalProcess::readSize);
  EXPECT_TRUE(contains(h.row(22), "the lazy dog")) << h.screen();
}

TEST(HeadlessTerminal, ParsesOutputWithNoViewAndTracksScrollbackAndDirectory) {
  HeadlessHarness h(30, 5);
  h.changeScrollback(std::nullopt);
  EXPECT_EQ(h.terminal->options.scrollback, 0);
  h.changeScrollback(50);
  h.start("/bin/sh", {"-c", "printf '\\033]7;file://host/tmp/here\\007'; printf 'a\\033[1mb\\033[mc'"});
  ASSERT_TRUE(h.waitForEnd());
  EXPECT_EQ(h.row(0), "abc");
  EXPECT_EQ(h.terminal->options.scrollback, 50);
}

TEST(HeadlessTerminal, KeepsOnlyTheNewestImages) {
  HeadlessHarness h(30, 5);
  const std::string small = "\x1bPq#0;2;100;0;0#0~\x1b\\";
  h.terminal->feed(small);
  ASSERT_EQ(h.images.size(), 1u);
  EXPECT_EQ(h.images[0].width, 1);
  EXPECT_EQ(h.images[0].bytes.size(), size_t(h.images[0].width * h.images[0].height * 4));
  // A program drawing images without end does not grow the list without end.
  for (size_t i = 0; i < HeadlessTerminal::maximumImages + 50; i++) h.terminal->feed(small);
  h.terminal->feed("\x1bPq#0;2;100;0;0#0~~~\x1b\\");
  EXPECT_EQ(h.images.size(), HeadlessTerminal::maximumImages);
  EXPECT_EQ(h.images.back().width, 3);
}
