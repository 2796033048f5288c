// Text of the placeholder and triage panels: previews, truncation, counts, times and the
// triage status table.

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <limits>
#include <sstream>

#include "app/LayoutDiagnostics.h"
#include "app/PanelText.h"
#include "app/TerminalPlaceholderView.h"
#include "app/TriageProgressView.h"

namespace zorvel {
namespace {

const std::string ellipsis = "\xE2\x80\xA6";

TEST(PanelText, OutputPreviewKeepsAtMostFourLinesAndShortensLongOnes) {
  const std::string none = "No readable agent output has been reported yet.";
  EXPECT_EQ(TerminalPlaceholderView::outputPreview(std::nullopt), none);
  EXPECT_EQ(TerminalPlaceholderView::outputPreview(""), none);
  EXPECT_EQ(TerminalPlaceholderView::outputPreview("   "), "   ");
  EXPECT_EQ(TerminalPlaceholderView::outputPreview("1\n2\n3\n4"), "1\n2\n3\n4");
  EXPECT_EQ(TerminalPlaceholderView::outputPreview("1\n2\n3\n4\n5"), "1\n2\n3\n" + ellipsis);
  EXPECT_EQ(TerminalPlaceholderView::outputPreview("1\n2\n3\n"), "1\n2\n3\n");
  EXPECT_EQ(TerminalPlaceholderView::outputPreview("1\n2\n3\n4\n"), "1\n2\n3\n" + ellipsis);

  std::string line76(76, 'x');
  EXPECT_EQ(TerminalPlaceholderView::outputPreview(line76), line76);
  std::string line77 = std::string(70, 'a') + " " + std::string(6, 'b');
  EXPECT_EQ(TerminalPlaceholderView::outputPreview(line77), std::string(70, 'a') + ellipsis);
  EXPECT_EQ(TerminalPlaceholderView::outputPreview(std::string(80, 'z')), std::string(75, 'z') + ellipsis);
  EXPECT_EQ(TriageProgressView::outputPreview("1\n2\n3\n4\n5\n6"), "1\n2\n3\n4\n" + ellipsis);
}

TEST(PanelText, CutsCountUserPerceivedCharactersAndNeverSplitThem) {
  const std::string family = "\xF0\x9F\x91\xA8\xE2\x80\x8D\xF0\x9F\x91\xA9\xE2\x80\x8D\xF0\x9F\x91\xA7";
  std::string text;
  for (int i = 0; i < 43; ++i) text += family;
  auto cut = PanelText::truncatePreviewLine(text, 42);
  std::string expected;
  for (int i = 0; i < 41; ++i) expected += family;
  EXPECT_EQ(cut, expected + ellipsis);
  std::string exact(42, 'q');
  EXPECT_EQ(PanelText::truncatePreviewLine(exact, 42), exact);
  EXPECT_EQ(PanelText::truncatePreviewLine("abc def", 1), "a" + ellipsis);
}

TEST(PanelText, StatusDetailKeepsTwoLinesAndMarksTheRest) {
  EXPECT_EQ(PanelText::shortStatusDetail("a\nb\nc"), "a\nb\n" + ellipsis);
  EXPECT_EQ(PanelText::shortStatusDetail("a\nb"), "a\nb");
}

TEST(PanelText, CountsAreGrouped) {
  EXPECT_EQ(PanelText::compactNumber(0), "0");
  EXPECT_EQ(PanelText::compactNumber(12345), "12,345");
  EXPECT_EQ(PanelText::compactNumber(-1200), "-1,200");
}

TriageDisplay triage(const std::string& kind, bool inProgress) {
  TriageDisplay display;
  display.kind = kind;
  display.inProgress = inProgress;
  return display;
}

TEST(TriageProgressView, StatusFollowsKindProgressAndFirstResponse) {
  EXPECT_EQ(TriageProgressView::statusText(triage("triage", false)),
            (std::pair<std::string, bool>{"Waiting for an available triage slot", false}));
  EXPECT_EQ(TriageProgressView::statusText(triage("triage", true)),
            (std::pair<std::string, bool>{"Waiting for LLM response", true}));
  auto acted = triage("triage", true);
  acted.recentActions.push_back({});
  EXPECT_EQ(TriageProgressView::statusText(acted).first, "Analysis in progress");
  auto counted = triage("triage", true);
  counted.outputTokens = 1;
  EXPECT_EQ(TriageProgressView::statusText(counted).first, "Analysis in progress");
  EXPECT_EQ(TriageProgressView::statusText(triage("triage_complete", true)).first, "Initial analysis complete");
  EXPECT_EQ(TriageProgressView::statusText(triage("scheduled", false)).first, "Scheduled check in progress");
  EXPECT_EQ(TriageProgressView::headingText("triage_complete"), "TRIAGE COMPLETE");
  EXPECT_EQ(TriageProgressView::headingText("anything"), "SCHEDULED CHECK");
}

TEST(TriageProgressView, TimesStatusesAndActionsReadAsShown) {
  ::setenv("TZ", "UTC", 1);
  ::tzset();
  auto display = triage("triage", true);
  EXPECT_FALSE(TriageProgressView::triageStatus(display));
  display.status = "";
  EXPECT_FALSE(TriageProgressView::triageStatus(display)) << "an empty status shows nothing";
  display.status = "Reading files";
  EXPECT_EQ(TriageProgressView::triageStatus(display), "Reading files");
  display.statusAt = "2026-03-01T09:15:02.123Z";
  EXPECT_EQ(TriageProgressView::triageStatus(display), "09:15 Reading files");
  display.statusAt = "2026-03-01T09:16:02Z";
  EXPECT_EQ(TriageProgressView::triageStatus(display), "09:16 Reading files");
  display.statusAt = "yesterday";
  EXPECT_EQ(TriageProgressView::triageStatus(display), "Reading files");

  AgentActionDisplay action{"read", 0, 0, 1000, 234, "bad time"};
  EXPECT_EQ(TriageProgressView::usageSummary(action),
            "\xCE\x94\xE2\x80\x94  \xCE\xA3"
            "1,234");
  EXPECT_EQ(TriageProgressView::actionHistory({action}),
            "--:--  \xCE\x94\xE2\x80\x94  \xCE\xA3"
            "1,234  read");
  // Counts from the page that would overflow when added stay at the largest count.
  const std::int64_t huge = std::numeric_limits<std::int64_t>::max();
  AgentActionDisplay overflowing{"x", huge, 5, huge, huge, "bad time"};
  EXPECT_EQ(TriageProgressView::usageSummary(overflowing),
            "\xCE\x94" + PanelText::compactNumber(huge) + "  \xCE\xA3" + PanelText::compactNumber(huge));
  EXPECT_EQ(TriageProgressView::actionHistory({}), "Updates will appear here as the analysis progresses.");
  std::vector<AgentActionDisplay> sixty;
  for (int i = 0; i < 60; ++i) sixty.push_back({std::to_string(i), 1, 1, 1, 1, "2026-03-01T10:00:00Z"});
  auto history = TriageProgressView::actionHistory(sixty);
  EXPECT_EQ(PanelText::splitLines(history).size(), 50u);
  EXPECT_EQ(PanelText::splitLines(history).front(),
            "10:00  \xCE\x94+2  \xCE\xA3"
            "2  10");

  std::vector<std::string> seven{"a", "b", "c", "d", "e", "f", "g"};
  EXPECT_EQ(TriageProgressView::toolNamesText(seven, "none"),
            "a  \xC2\xB7  b  \xC2\xB7  c  \xC2\xB7  d  \xC2\xB7  e  \xC2\xB7  f");
  EXPECT_EQ(TriageProgressView::toolNamesText({}, "none"), "none");
  EXPECT_EQ(TriageProgressView::metricsText(3, 12345, 0), "Tools: 3    Tokens: 12,345    Output: 0");
}

TEST(LayoutDiagnostics, NumbersRectanglesTimesAndTheAppendedFile) {
  EXPECT_EQ(LayoutDiagnostics::number(360), "360.0");
  EXPECT_EQ(LayoutDiagnostics::number(0.5), "0.5");
  EXPECT_EQ(LayoutDiagnostics::rectangle(0, 0, 800, 600.25), "(0.0, 0.0, 800.0, 600.25)");
  EXPECT_EQ(LayoutDiagnostics::timestamp(1772356502), "2026-03-01T09:15:02Z");

  auto directory = std::filesystem::temp_directory_path() / ("zorvel-layout-" + std::to_string(::getpid()));
  std::filesystem::create_directories(directory);
  auto file = directory / "terminal-resize.log";
  LayoutDiagnostics::append(file, "first", 1772356502);
  LayoutDiagnostics::append(file, "second", 1772356503);
  std::ifstream in(file);
  std::stringstream text;
  text << in.rdbuf();
  EXPECT_EQ(text.str(), "2026-03-01T09:15:02Z first\n2026-03-01T09:15:03Z second\n");
  // The window's first line comes before the data directory exists.
  LayoutDiagnostics::append(directory / "data" / "x.log", "launch", 0);
  EXPECT_TRUE(std::filesystem::exists(directory / "data" / "x.log"));
  LayoutDiagnostics::append("/proc/zorvel/x.log", "lost", 0);  // never throws
  std::filesystem::remove_all(directory);
}

}  // namespace
}  // namespace zorvel
