#pragma once

#include <optional>
#include <string>

namespace platform {
class Bundle;
}

namespace zorvel::InstallCheck {

// What keeps this installation from running, said for a person; nothing when it is whole. The
// page and its bridge script must lie in the resource folder; everything else has a fallback
// (the core is looked up on the search path, Info keys have defaults).
std::optional<std::string> problem(const platform::Bundle& bundle);

// Says the problem on standard error and, when a display can be opened, in a window that stays
// until it is closed. Returns the exit status for the process.
int report(const std::string& problem);

}  // namespace zorvel::InstallCheck
