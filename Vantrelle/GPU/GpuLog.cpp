#include "Vantrelle/GPU/GpuLog.h"

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

}  // namespace vantrelle
