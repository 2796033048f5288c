#include "app/CommandLine.h"

#include "platform/Bundle.h"

namespace zorvel::CommandLine {

namespace {

std::string usage() {
  return "Usage:\n"
         "  zorvel-desktop [OPTION...] [LINK...]\n"
         "\n"
         "Opens Zorvel, or brings forward the Zorvel already running in this session, and opens\n"
         "each zorvel: link given.\n"
         "\n"
         "Options:\n"
         "  -h, --help     Show this help and exit\n"
         "  --version      Show the version and exit\n";
}

std::string version(const platform::Bundle& bundle) {
  std::string text = bundle.infoString("CFBundleName").value_or("Zorvel") + " " +
                     bundle.infoString("CFBundleShortVersionString").value_or("(version unknown)");
  auto commit = bundle.infoString("ZorvelBuildCommit");
  auto channel = bundle.infoString("ZorvelDistributionChannel");
  if (commit || channel) {
    text += " (";
    if (commit) text += "build " + *commit;
    if (commit && channel) text += ", ";
    if (channel) text += *channel;
    text += ")";
  }
  return text + "\n";
}

bool isOption(const std::string& argument) { return !argument.empty() && argument.front() == '-'; }

}  // namespace

std::optional<std::string> informationRequested(const std::vector<std::string>& arguments,
                                                const platform::Bundle& bundle) {
  for (const auto& argument : arguments) {
    if (argument == "--") break;  // what follows is links, whatever they look like
    if (argument == "--help" || argument == "-h") return usage();
    if (argument == "--version") return version(bundle);
  }
  return std::nullopt;
}

std::optional<std::string> unknownOption(const std::vector<std::string>& arguments) {
  for (const auto& argument : arguments) {
    if (argument == "--") break;
    if (isOption(argument) && argument != "--help" && argument != "-h" && argument != "--version") {
      return "zorvel-desktop: Unknown option " + argument + "\n\n" + usage();
    }
  }
  return std::nullopt;
}

std::vector<std::string> links(const std::vector<std::string>& arguments) {
  std::vector<std::string> found;
  bool afterOptions = false;
  for (const auto& argument : arguments) {
    if (!afterOptions && argument == "--") {
      afterOptions = true;
    } else if (afterOptions || !isOption(argument)) {
      found.push_back(argument);
    }
  }
  return found;
}

}  // namespace zorvel::CommandLine
