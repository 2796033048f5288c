#pragma once

namespace vantrelle {

// The place for the terminal view's accessibility support; it holds no state yet, and each view
// keeps one for its lifetime.
class AccessibilityService {};

}  // namespace vantrelle
