#pragma once
// The renderer's log categories, under the engine's own log subsystem.
#include "platform/Log.h"

namespace vantrelle {

const platform::Logger& atlasLog();
const platform::Logger& rendererLog();
const platform::Logger& profileLog();

}  // namespace vantrelle
