#include "Vantrelle/Engine.h"

namespace vantrelle {

const char* engineVersion() { return "0.1.0"; }

}  // namespace vantrelle
