// The termination sequence of the application object on real widgets: what the first request
// shuts down, what a repeated one leaves alone, and what the end of the run still closes.

#include <gtest/gtest.h>

#include "app/TerminalFactory.h"
#include "app/ZorvelAppDelegate.h"
#include "tests/app/GtkTestSupport.h"

namespace zorvel {
namespace {

class Lifecycle : public ::testing::Test {
 protected:
  void SetUp() override {
    if (!gtkDisplayReady()) GTEST_SKIP() << "no display";
    delegate = std::make_shared<ZorvelAppDelegate>();
  }

  void openOverlay(std::int64_t generation) {
    delegate->modalOverlay->modalOverlayPanel = std::make_unique<ModalOverlayPanel>();
    delegate->rootContainer.add_overlay(*delegate->modalOverlay->modalOverlayPanel);
    delegate->modalOverlay->activeModalOverlayGeneration = generation;
    delegate->modalOverlay->modalOverlayGeneration = generation;
  }

  void installPointerMonitor() {
    delegate->terminalPointerMonitor = Gtk::GestureClick::create();
    delegate->terminalContainer.add_controller(delegate->terminalPointerMonitor);
  }

  void runTerminal(const std::string& taskID) {
    std::shared_ptr<vantrelle::LocalProcessTerminalView> view = TerminalFactory::make(*delegate);
    delegate->terminalSessions.insert(view, taskID, std::nullopt);
    delegate->show(view, taskID, false);
  }

  std::shared_ptr<ZorvelAppDelegate> delegate;
};

TEST_F(Lifecycle, TheFirstTerminationRequestShutsDownAndARepeatedOneOnlyAgrees) {
  openOverlay(2);
  installPointerMonitor();
  runTerminal("11111111-1111-4111-8111-111111111111");

  EXPECT_EQ(delegate->applicationShouldTerminate(), ZorvelAppDelegate::TerminateReply::terminateNow);
  EXPECT_TRUE(delegate->terminationInProgress());
  EXPECT_FALSE(delegate->modalOverlay->modalOverlayPanel);
  EXPECT_FALSE(delegate->terminalPointerMonitor);
  EXPECT_TRUE(delegate->terminals().empty());

  // A second request while quitting repeats none of the shutdown.
  openOverlay(3);
  runTerminal("22222222-2222-4222-8222-222222222222");
  EXPECT_EQ(delegate->applicationShouldTerminate(), ZorvelAppDelegate::TerminateReply::terminateNow);
  EXPECT_TRUE(delegate->modalOverlay->modalOverlayPanel);
  EXPECT_EQ(delegate->terminals().size(), 1u);
}

TEST_F(Lifecycle, TheEndOfTheRunClosesTheOverlayAndStopsReportingClicks) {
  openOverlay(4);
  delegate->modalOverlay->pendingModalOverlayKind = "confirm";
  installPointerMonitor();
  runTerminal("33333333-3333-4333-8333-333333333333");

  delegate->applicationWillTerminate();
  EXPECT_FALSE(delegate->modalOverlay->modalOverlayPanel);
  EXPECT_FALSE(delegate->modalOverlay->activeModalOverlayGeneration);
  EXPECT_FALSE(delegate->modalOverlay->pendingModalOverlayKind);
  EXPECT_FALSE(delegate->terminalPointerMonitor);
  EXPECT_TRUE(delegate->terminals().empty());
}

}  // namespace
}  // namespace zorvel
