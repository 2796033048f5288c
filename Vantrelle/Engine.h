#pragma once

namespace vantrelle {

// The engine's version, reported by tools and the debug view.
const char* engineVersion();

}  // namespace vantrelle
