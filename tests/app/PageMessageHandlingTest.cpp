// What the application object does with the page's messages, on real widgets: which panel or
// terminal a task message leads to, what it remembers, and which overlay messages are stale.

#include <gtest/gtest.h>

#include "app/PageMessages.h"
#include "app/TerminalFactory.h"
#include "app/ZorvelAppDelegate.h"
#include "tests/app/GtkTestSupport.h"

namespace zorvel {
namespace {

using nlohmann::json;

constexpr const char* taskID = "0b7c6f1e-6a57-4d6f-9a4e-3f1f6d2b8c11";

class PageMessageHandling : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtkDisplayReady()) GTEST_SKIP() << "no display";
    delegate = std::make_shared<ZorvelAppDelegate>();
  }

  void send(const json& body) {
    auto message = PageMessages::decode(PageMessages::handlerName, body);
    ASSERT_TRUE(message) << body;
    auto* application = std::get_if<PageMessages::ApplicationMessage>(&*message);
    ASSERT_TRUE(application) << body;
    delegate->handlePageMessage(*application);
  }

  static json task() {
    return {{"task_id", taskID},        {"title", "T"},     {"session_ids", json::array()},
            {"runtime_status", "idle"}, {"agent", "codex"}, {"focus", true}};
  }

  static json triage() {
    return {{"kind", "triage"},
            {"in_progress", true},
            {"tool_call_count", 0},
            {"tool_call_names", json::array()},
            {"total_tokens", 0},
            {"output_tokens", 0},
            {"recent_actions", json::array()},
            {"can_skip", true}};
  }

  std::shared_ptr<vantrelle::LocalProcessTerminalView> runningTerminal() {
    std::shared_ptr<vantrelle::LocalProcessTerminalView> view = TerminalFactory::make(*delegate);
    delegate->terminalSessions.insert(view, taskID, std::nullopt);
    return view;
  }

  void openOverlay(std::int64_t generation) {
    auto& overlay = *delegate->modalOverlay;
    overlay.modalOverlayPanel = std::make_unique<ModalOverlayPanel>();
    overlay.modalOverlayBackdrop = Gtk::make_managed<ModalBackdropView>();
    overlay.modalOverlayPanel->append(*overlay.modalOverlayBackdrop);
    delegate->rootContainer.add_overlay(*overlay.modalOverlayPanel);
    overlay.activeModalOverlayGeneration = generation;
    overlay.modalOverlayGeneration = generation;
  }

  std::string placeholderDetail() { return delegate->placeholder.detail.get_text(); }

  std::shared_ptr<ZorvelAppDelegate> delegate;
};

TEST_F(PageMessageHandling, ATaskMessageShowsItsTerminalAPanelOrTriageProgress) {
  // Without a terminal the message launches one; this task has no project, so the road ends on its panel.
  send(task());
  EXPECT_TRUE(delegate->terminalLayoutActive);
  EXPECT_EQ(delegate->taskTitles[taskID], "T");
  EXPECT_EQ(placeholderDetail(), "This task has no project, so an authorized agent cannot be started.");

  auto placeholder = task();
  placeholder["launch"] = false;
  send(placeholder);
  EXPECT_EQ(placeholderDetail(), "No terminal is running for this task.");
  placeholder["placeholder"] = "Waiting";
  send(placeholder);
  EXPECT_EQ(placeholderDetail(), "Waiting");
  EXPECT_TRUE(delegate->placeholder.get_visible());

  // Triage progress wins over a running terminal.
  auto view = runningTerminal();
  auto progress = placeholder;
  progress["agent_progress"] = triage();
  send(progress);
  EXPECT_TRUE(delegate->triageProgress.get_visible());
  EXPECT_FALSE(delegate->placeholder.get_visible());
  EXPECT_FALSE(delegate->activeTaskID);

  auto withKind = task();
  withKind["kind"] = "task";
  send(withKind);
  EXPECT_EQ(delegate->activeTaskID, taskID);
  EXPECT_EQ(view->get_parent(), &delegate->terminalContainer);
  EXPECT_FALSE(delegate->triageProgress.get_visible());
  EXPECT_EQ(delegate->terminals().size(), 1u);

  send({{"kind", "stop-terminal"}, {"task_id", taskID}});
  EXPECT_TRUE(delegate->terminals().empty());
  send({{"kind", "expand"}});
  EXPECT_FALSE(delegate->terminalLayoutActive);
}

TEST_F(PageMessageHandling, StatisticsAreKeptUntilReplaced) {
  auto withStats = task();
  withStats["launch"] = false;
  withStats["task_statistics"] = {
      {"tool_call_count", 1}, {"tool_call_names", {"read"}}, {"total_tokens", 9}, {"output_tokens", 2}};
  send(withStats);
  EXPECT_TRUE(delegate->placeholder.statisticsStack->get_visible());
  auto without = task();
  without["launch"] = false;
  send(without);
  EXPECT_EQ(placeholderDetail(), "No terminal is running for this task.");
  EXPECT_FALSE(delegate->placeholder.statisticsStack->get_visible()) << "the panel shows only what the message has";
  ASSERT_EQ(delegate->taskStatistics.count(taskID), 1u);
  EXPECT_EQ(delegate->taskStatistics[taskID].totalTokens, 9);
}

TEST_F(PageMessageHandling, ATriageRecoveryEntersTheLayoutAndNamesTheTask) {
  send({{"kind", "triage-recovery"},
        {"task_id", taskID},
        {"title", "R"},
        {"agent", "codex"},
        {"error", "e"},
        {"login_required", true}});
  EXPECT_TRUE(delegate->terminalLayoutActive);
  EXPECT_EQ(delegate->taskTitles[taskID], "R");
  EXPECT_EQ(delegate->placeholder.status.get_text(), "Login required");
  EXPECT_EQ(delegate->placeholderTaskID, taskID);
}

TEST_F(PageMessageHandling, OnlyMessagesOfTheActiveOverlayOpeningAct) {
  send({{"kind", "close-modal-overlay"}});
  openOverlay(3);
  send({{"kind", "close-modal-overlay"}});
  send({{"kind", "close-modal-overlay"}, {"generation", 2}});
  EXPECT_TRUE(delegate->modalOverlay->modalOverlayPanel);

  send({{"kind", "modal-overlay-resize"}, {"generation", 4}, {"width", 600}, {"height", 400}});
  EXPECT_FALSE(delegate->modalOverlay->modalOverlayWidthConstraint);
  // The window is not laid out, so the dialog gets its minimum size.
  send({{"kind", "modal-overlay-resize"}, {"generation", 3}, {"width", 600}, {"height", 400}});
  EXPECT_EQ(delegate->modalOverlay->modalOverlayWidthConstraint, 360);

  send({{"kind", "modal-overlay-ready"}, {"generation", 4}});
  EXPECT_FALSE(delegate->modalOverlay->modalOverlayPrewarmed);
  send({{"kind", "modal-overlay-ready"}, {"generation", 3}});
  EXPECT_TRUE(delegate->modalOverlay->modalOverlayPrewarmed);
  EXPECT_TRUE(delegate->modalOverlay->modalOverlayPanel);

  send({{"kind", "close-modal-overlay"}, {"generation", 3.7}});
  EXPECT_FALSE(delegate->modalOverlay->modalOverlayPanel);
  EXPECT_FALSE(delegate->modalOverlay->activeModalOverlayGeneration);
}

TEST_F(PageMessageHandling, AThemeGivenWithAnOverlayIsAppliedEvenWhenTheOverlayCannotOpen) {
  send({{"kind", "open-modal-overlay"}, {"overlay", "s"}, {"theme", "light"}});
  EXPECT_FALSE(delegate->darkTheme);
  EXPECT_FALSE(delegate->modalOverlay->modalOverlayPanel);
  send({{"kind", "theme"}, {"value", "Light"}});
  EXPECT_TRUE(delegate->darkTheme);
}

}  // namespace
}  // namespace zorvel
