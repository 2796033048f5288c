#include "platform/Bundle.h"

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <system_error>

#include "platform/Log.h"

namespace platform {

namespace fs = std::filesystem;

namespace {

const Logger& bundleLog() {
  static const Logger log("local.zorvel.desktop", "bundle");
  return log;
}

std::string ownExecutablePath() {
  std::error_code error;
  const fs::path path = fs::read_symlink("/proc/self/exe", error);
  return error ? std::string() : path.string();
}

// A folder of the install tree from the folder that holds the executable: <prefix>/bin/<executable>
// -> <prefix>/share/zorvel or <prefix>/libexec/zorvel with the usual install folders. Without a
// known executable, the folder relative to the working directory.
std::string besideExecutable(const std::string& executable, const char* fromBin, const char* fallback) {
  if (executable.empty()) return fallback;
  return (fs::path(executable).parent_path() / fromBin).lexically_normal().string();
}

bool staysInside(const fs::path& relative) {
  if (relative.empty() || relative.is_absolute()) return false;
  for (const auto& part : relative) {
    if (part == "..") return false;
  }
  return true;
}

}  // namespace

Bundle& Bundle::main() {
  static Bundle* bundle = [] {
    const std::string executable = ownExecutablePath();
    return new Bundle(besideExecutable(executable, ZORVEL_RESOURCES_FROM_BIN, "share/zorvel"), executable,
                      besideExecutable(executable, ZORVEL_HELPERS_FROM_BIN, "libexec/zorvel"));
  }();
  return *bundle;
}

Bundle::Bundle(std::string resourcePath, std::string executablePath, std::string helperPath)
    : resources(std::move(resourcePath)), executable(std::move(executablePath)), helpers(std::move(helperPath)) {
  loadInfo();
}

void Bundle::loadInfo() {
  std::ifstream file(fs::path(resources) / "Info.json");
  if (!file) return;
  const auto json = nlohmann::json::parse(file, nullptr, false);
  if (!json.is_object()) {
    bundleLog().error("Info.json in %{public}s is not a JSON object", resources.c_str());
    return;
  }
  for (const auto& [key, value] : json.items()) {
    if (value.is_string()) info.emplace(key, value.get<std::string>());
  }
}

std::optional<std::string> Bundle::pathForResource(const std::string& name, const std::string& ext) const {
  const std::string fileName = ext.empty() ? name : name + "." + ext;
  const fs::path relative(fileName);
  if (!staysInside(relative)) return std::nullopt;
  const fs::path path = fs::path(resources) / relative;
  std::error_code error;
  if (!fs::is_regular_file(path, error)) return std::nullopt;
  return path.string();
}

std::optional<std::string> Bundle::infoString(const std::string& key) const {
  const auto found = info.find(key);
  if (found == info.end()) return std::nullopt;
  return found->second;
}

std::optional<std::string> Bundle::bundleIdentifier() const { return infoString("CFBundleIdentifier"); }

}  // namespace platform
