#include "Vantrelle/GPU/GpuLog.h"

#include <atomic>
#include <cstdlib>
#include <string_view>

namespace vantrelle {

namespace {
constexpr const char* subsystem = "dev.vantrelle.engine";
}

const platform::Logger& atlasLog() {
  static const platform::Logger log(subsystem, "MetalAtlas");
  return log;
}

const platform::Logger& rendererLog() {
  static const platform::Logger log(subsystem, "MetalRenderer");
  return log;
}

const platform::Logger& profileLog() {
  static const platform::Logger log(subsystem, "MetalProfile");
  return log;
}

bool profileEnabled() {
  static const bool enabled = [] {
    const char* value = std::getenv("VANTRELLE_PROFILE");
    return value && std::string_view(value) == "1";
  }();
  return enabled;
}

ProfileInterval::ProfileInterval(const char* name) : name(name) {
  if (!profileEnabled()) return;
  static std::atomic<unsigned long> nextId{1};
  id = nextId++;
  open = true;
  profileLog().debug("begin %{public}s id=%lu", name, id);
}

void ProfileInterval::end() {
  if (!open) return;
  open = false;
  profileLog().debug("end %{public}s id=%lu", name, id);
}

}  // namespace vantrelle
