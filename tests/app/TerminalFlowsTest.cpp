// The task terminal flows of the application object on real widgets: the registry, the panels
// that replace a terminal, stopping and the exits of task and login terminals.

#include <gtest/gtest.h>

#include "app/TerminalFactory.h"
#include "app/ZorvelAppDelegate.h"
#include "tests/app/GtkTestSupport.h"

namespace zorvel {
namespace {

class TerminalFlows : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtkDisplayReady()) GTEST_SKIP() << "no display";
    delegate = std::make_shared<ZorvelAppDelegate>();
  }

  // A registered, shown terminal without a child, as a task terminal is before its plan arrives.
  std::shared_ptr<vantrelle::LocalProcessTerminalView> shownTerminal(
      const std::string& taskID, std::optional<TriageRecoveryMessage> recovery = {}) {
    std::shared_ptr<vantrelle::LocalProcessTerminalView> view = TerminalFactory::make(*delegate);
    delegate->terminalSessions.insert(view, taskID, std::move(recovery));
    delegate->show(view, taskID, false);
    return view;
  }

  std::shared_ptr<ZorvelAppDelegate> delegate;
};

TEST_F(TerminalFlows, TheRegistryKnowsViewsByIdentityAndCancelsReplacedRequests) {
  auto& sessions = delegate->terminalSessions;
  std::shared_ptr<vantrelle::LocalProcessTerminalView> first = TerminalFactory::make(*delegate);
  sessions.insert(first, "a", std::nullopt);
  auto pending = std::make_shared<PendingLaunch>();
  sessions.session("a")->pendingLaunch = pending;
  std::shared_ptr<vantrelle::LocalProcessTerminalView> second = TerminalFactory::make(*delegate);
  sessions.insert(second, "a", std::nullopt);
  EXPECT_TRUE(pending->isCancelled());
  EXPECT_FALSE(sessions.taskID(*first));
  EXPECT_EQ(sessions.taskID(*second), "a");
  EXPECT_EQ(sessions.remove("missing"), nullptr);
  EXPECT_EQ(sessions.remove("a"), second);
  EXPECT_FALSE(sessions.taskID(*second));
  EXPECT_FALSE(first->allowMouseReporting);
  EXPECT_FALSE(first->scrollerWidget() && first->scrollerWidget()->get_visible());
}

TEST_F(TerminalFlows, PlaceholdersSayWhyAndOfferOnlyWhatCanBeDone) {
  delegate->showPlaceholder("Nothing here", std::nullopt, std::nullopt, std::nullopt);
  auto& placeholder = delegate->placeholder;
  EXPECT_EQ(placeholder.taskTitle.get_text(), "No active terminal");
  EXPECT_FALSE(placeholder.startButton.get_visible());
  EXPECT_EQ(placeholder.preferredHeight, 224);

  TaskStatisticsDisplay statistics{4, {"a", "b", "c", "d", "e", "f", "g", "h"}, 12345, 678, std::nullopt};
  delegate->showPlaceholder("Stopped", "Task", "t1", statistics);
  EXPECT_TRUE(placeholder.startButton.get_visible());
  EXPECT_EQ(placeholder.preferredHeight, 388);
  EXPECT_EQ(placeholder.metrics.get_text(), "Tools: 4    Tokens: 12,345    Output: 678");
  EXPECT_EQ(placeholder.toolNames.get_text(), "a  \xC2\xB7  b  \xC2\xB7  c  \xC2\xB7  d  \xC2\xB7  e  \xC2\xB7  f");
  EXPECT_EQ(delegate->placeholderTaskID, "t1");

  TriageRecoveryMessage recovery{"t2", "", std::nullopt, "codex", std::nullopt, std::nullopt, "No credentials", true};
  delegate->showTriageRecovery(recovery, "Login command exited with code 2.");
  EXPECT_EQ(placeholder.startButton.get_label(), "LOG IN");
  EXPECT_EQ(placeholder.secondaryButton.get_label(), "RETRY");
  EXPECT_TRUE(placeholder.secondaryButton.get_visible());
  EXPECT_EQ(placeholder.status.get_text(), "Login required");
  EXPECT_EQ(placeholder.detail.get_text(), "No credentials\nLogin command exited with code 2.");
  recovery.loginRequired = false;
  delegate->showTriageRecovery(recovery, std::nullopt);
  EXPECT_EQ(placeholder.startButton.get_label(), "RETRY");
  EXPECT_FALSE(placeholder.secondaryButton.get_visible());
  EXPECT_EQ(placeholder.status.get_text(), "Triage failed");
}

TEST_F(TerminalFlows, StoppingAnOnScreenTerminalShowsWhyAndAnOffScreenOneGoesQuietly) {
  auto a = shownTerminal("a");
  auto b = shownTerminal("b");
  EXPECT_EQ(a->get_parent(), nullptr) << "showing b takes a out of the container";
  EXPECT_EQ(b->get_parent(), &delegate->terminalContainer);
  delegate->placeholder.set_visible(false);
  delegate->stopTerminal("a");
  EXPECT_FALSE(delegate->placeholder.get_visible());
  EXPECT_EQ(delegate->activeTaskID, "b");
  delegate->taskTitles["b"] = "Task B";
  delegate->stopTerminal("b");
  EXPECT_TRUE(delegate->placeholder.get_visible());
  EXPECT_EQ(delegate->placeholder.detail.get_text(), "No terminal is running for this task.");
  EXPECT_EQ(delegate->placeholder.taskTitle.get_text(), "Task B");
  EXPECT_FALSE(delegate->activeTaskID);
  EXPECT_TRUE(delegate->terminals().empty());
}

TEST_F(TerminalFlows, ExitsOfTaskAndLoginTerminalsLeaveTheRightPanel) {
  auto task = shownTerminal("t");
  delegate->processTerminated(*task, 0);
  EXPECT_EQ(delegate->placeholder.detail.get_text(), "The terminal process exited.");
  EXPECT_TRUE(delegate->terminals().empty());
  delegate->processTerminated(*task, 0);  // a view no longer registered only gets the notice

  TriageRecoveryMessage recovery{"l", "Login task", std::nullopt, "codex", std::nullopt, std::nullopt, "Expired", true};
  auto login = shownTerminal("l", recovery);
  delegate->processTerminated(*login, 2 << 8);  // the wait status of an exit with code 2
  EXPECT_EQ(delegate->placeholder.detail.get_text(), "Expired\nLogin command exited with code 2.");
  EXPECT_EQ(delegate->placeholder.startButton.get_label(), "LOG IN");

  auto again = shownTerminal("l", recovery);
  delegate->processTerminated(*again, 0);
  EXPECT_EQ(delegate->placeholder.status.get_text(), "Login complete");
  EXPECT_FALSE(delegate->placeholder.startButton.get_visible());
  EXPECT_EQ(delegate->placeholderTaskID, "l");
}

TEST_F(TerminalFlows, LeavingTerminalLayoutOnlyWhenOnAndPanelsFitTheContainer) {
  auto view = shownTerminal("x");
  delegate->exitTerminalLayout();
  EXPECT_EQ(delegate->activeTaskID, "x") << "layout was off, so nothing changes";
  delegate->enterTerminalLayout();
  delegate->exitTerminalLayout();
  EXPECT_FALSE(delegate->activeTaskID);
  EXPECT_FALSE(delegate->terminalContainer.get_visible());
  EXPECT_EQ(terminalPanelWidth(100, 760), 4);
  EXPECT_EQ(terminalPanelWidth(1200, 760), 760);
  EXPECT_EQ(terminalPanelWidth(1200, 680), 680);
  EXPECT_EQ(terminalPanelWidth(50, 680), 0);
}

}  // namespace
}  // namespace zorvel

namespace zorvel {

// Titles, states and details come from the page and the core; one long word among them (a URL as
// a task's title) must not widen a panel past the terminal area.
TEST_F(TerminalFlows, LongWordsKeepThePanelsNarrow) {
  const std::string word(3000, 'W');
  TaskStatisticsDisplay statistics{1, {word}, 1, 1, word};
  delegate->showPlaceholder(word, word, "t1", statistics);
  TriageDisplay triage;
  triage.status = word;
  triage.toolCallNames = {word};
  triage.outputPreview = word;
  delegate->triageProgress.configure(word, triage);
  for (Gtk::Widget* panel : std::initializer_list<Gtk::Widget*>{&delegate->placeholder, &delegate->triageProgress}) {
    int minimum = 0, natural = 0, minimumBaseline = 0, naturalBaseline = 0;
    panel->measure(Gtk::Orientation::HORIZONTAL, -1, minimum, natural, minimumBaseline, naturalBaseline);
    EXPECT_LE(minimum, 760);
  }
}

}  // namespace zorvel
