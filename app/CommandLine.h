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

// The refusal of the first option that this program does not know, followed by the usage, for
// standard error and the exit status 2; nothing when it knows every option given. It is asked
// before anything else, so that an unknown option never reaches a display, the session bus or a
// running instance.
std::optional<std::string> unknownOption(const std::vector<std::string>& arguments);

// The links given: every argument that is not an option, and every one after "--".
std::vector<std::string> links(const std::vector<std::string>& arguments);

}  // namespace zorvel::CommandLine
