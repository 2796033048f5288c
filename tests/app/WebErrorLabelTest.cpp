#include <gtest/gtest.h>

#include <functional>
#include <vector>

#include "app/WebErrorLabel.h"

using namespace zorvel;

namespace {

struct Label {
  std::vector<std::function<void()>> pendingHides;
  std::shared_ptr<WebErrorLabel> label =
      std::make_shared<WebErrorLabel>([this](std::function<void()> hide) { pendingHides.push_back(std::move(hide)); });
  void runHide(std::size_t index) { pendingHides.at(index)(); }
};

}  // namespace

TEST(WebErrorLabel, ATransientFailureHidesOnlyIfNothingChangedSince) {
  Label l;
  l.label->showWebFailure("first", true);
  EXPECT_EQ(l.label->text(), "Zorvel UI error:\nfirst");
  l.label->showWebFailure("second", true);
  l.runHide(0);
  EXPECT_TRUE(l.label->isVisible());
  l.runHide(1);
  EXPECT_FALSE(l.label->isVisible());

  l.label->showWebFailure("load", false);
  EXPECT_EQ(l.label->text(), "Could not load the bundled Zorvel UI:\nload");
  EXPECT_EQ(l.pendingHides.size(), 2u);  // a load failure stays
  l.label->hideAfterLoad();
  EXPECT_FALSE(l.label->isVisible());
}

TEST(WebErrorLabel, ACoreFailureStaysUntilTheCoreIsBack) {
  Label l;
  l.label->showCoreFailure("no runner");
  auto expected = "Zorvel could not start a compatible core.\nno runner\n\nQuit and reopen the app to retry.";
  l.label->showWebFailure("page", true);
  l.label->hideAfterLoad();
  for (std::size_t i = 0; i < l.pendingHides.size(); ++i) l.runHide(i);
  EXPECT_TRUE(l.label->isVisible());
  EXPECT_EQ(l.label->text(), expected);
  l.label->clearCoreFailure();
  EXPECT_FALSE(l.label->isVisible());
  l.label->showWebFailure("page", true);
  EXPECT_TRUE(l.label->isVisible());
}

// A core that fails with a long error output, or a page error of one endless line, still leaves
// what failed and what to do on the label: the first and last lines stay, each line cut short.
TEST(WebErrorLabel, ALongReasonKeepsWhatFailedAndTheAdviceInSight) {
  Label l;
  std::string reason;
  for (int line = 1; line <= 200; ++line) reason += "line " + std::to_string(line) + (line < 200 ? "\n" : "");
  l.label->showCoreFailure(reason);
  auto expected =
      "Zorvel could not start a compatible core.\nline 1\nline 2\nline 3\nline 4\nline 5\nline 6\n\xE2\x80\xA6\n"
      "line 196\nline 197\nline 198\nline 199\nline 200\n\nQuit and reopen the app to retry.";
  EXPECT_EQ(l.label->text(), expected);

  Label page;
  page.label->showWebFailure(std::string(WebErrorLabel::longestLine - 1, 'x') + "\xC3\xA9" + std::string(5000, 'y'),
                             true);
  EXPECT_EQ(page.label->text(),
            "Zorvel UI error:\n" + std::string(WebErrorLabel::longestLine - 1, 'x') + "\xE2\x80\xA6");
}

// A core's error output is the tail of what it wrote, cut anywhere: a character cut in two, or
// text in another encoding, must not take the rest of the failure off the label.
TEST(WebErrorLabel, MalformedTextInAReasonShowsAsReplacementCharacters) {
  Label l;
  l.label->showCoreFailure("\x80\xA6rror: the runner needs a newer \xE9tat");
  EXPECT_EQ(l.label->text(),
            "Zorvel could not start a compatible core.\n\xEF\xBF\xBD\xEF\xBF\xBDrror: the runner needs a newer "
            "\xEF\xBF\xBDtat\n\nQuit and reopen the app to retry.");
}
