#include <glib.h>

#include <cstdio>
#include <string>
#include <vector>

#include "Vantrelle/Buffer/CellSlabs.h"
#include "app/CommandLine.h"
#include "app/InstallCheck.h"
#include "app/UserFolderCheck.h"
#include "app/ZorvelAppDelegate.h"
#include "app/ZorvelApplication.h"
#include "platform/Bundle.h"
#include "platform/InheritedDescriptors.h"
#include "platform/LargePages.h"

namespace {

// Lets terminals made from now on carve their scrollback cells from large-page regions. Builds
// with AddressSanitizer keep every slab on the heap, where the sanitizer sees it.
void useLargePagesForTerminalCells() {
#if defined(__SANITIZE_ADDRESS__)
  return;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
  return;
#endif
#endif
  static const vantrelle::SlabMemory memory{platform::largePageBytes, platform::allocateReusableLargePages,
                                            platform::releaseReusableLargePages, platform::supplyPages};
  vantrelle::CellSlabs::useLargeSlabMemory(&memory);
}

}  // namespace

int main(int argc, char* argv[]) {
  // First, before any thread or child exists: the web engine's helper processes would otherwise
  // hold whatever descriptors our own starter left open.
  platform::keepInheritedDescriptorsFromChildren();
  // The window's class is the program's name; the desktop entry matches its windows by it, so it
  // stays the same whatever name the program was started by (a link, a wrapper).
  g_set_prgname("zorvel-desktop");
  // Answered before anything that needs a display, the session bus or a whole install.
  const std::vector<std::string> commandLine(argv + 1, argv + argc);
  if (auto refusal = zorvel::CommandLine::unknownOption(commandLine)) {
    std::fputs(refusal->c_str(), stderr);
    return 2;
  }
  if (auto answer = zorvel::CommandLine::informationRequested(commandLine, platform::Bundle::main())) {
    std::fputs(answer->c_str(), stdout);
    return 0;
  }
  // Before any terminal exists, so every scrollback can grow into large pages.
  useLargePagesForTerminalCells();
  if (auto problem = zorvel::InstallCheck::problem(platform::Bundle::main())) {
    return zorvel::InstallCheck::report(*problem);
  }
  if (auto problem = zorvel::UserFolderCheck::problem(zorvel::UserFolderCheck::currentFolders())) {
    return zorvel::InstallCheck::report(*problem);
  }
  auto application = zorvel::ZorvelApplication::create(platform::Bundle::main().bundleIdentifier());
  auto delegate = std::make_shared<zorvel::ZorvelAppDelegate>();
  application->setDelegate(delegate);
  // Links (the desktop entry passes one) are the delegate's. Every option has been answered by now,
  // so the toolkit gets none: it would take some of its own, or refuse others, only after it had
  // reached the session bus and a running instance.
  delegate->launchLinks = zorvel::CommandLine::links(commandLine);
  return application->runSingleInstance(1, argv);
}
