#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {
class Bundle;
}

namespace zorvel::CommandLine {

// The answer to --help or --version (the arguments without the program's name), for standard
// output; nothing when neither is asked. It needs no display and no session bus, so a person, a
// packager's script or a software centre can ask from anywhere.
std::optional<std::string> informationRequested(const std::vector<std::string>& arguments,
                                                const platform::Bundle& bundle);

}  // namespace zorvel::CommandLine
