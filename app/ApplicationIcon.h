#pragma once

#include <string>

namespace platform {
class Bundle;
}

namespace zorvel {

// The name of the application's icon in the icon theme: its bundle identifier.
std::string applicationIconName(const platform::Bundle& bundle);

// Makes the bundle's own icons (<prefix>/share/icons beside its resource folder) known to the
// display's icon theme, so a bundle run from the build tree or installed outside the system's data
// folders finds its icon, and makes the application's icon the default of every window.
void installApplicationIcon(const platform::Bundle& bundle);

}  // namespace zorvel
