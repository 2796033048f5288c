#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

#include "app/URL.h"

namespace zorvel {

// Which navigations stay in a web view: the bundled UI and the core's own pages. Everything else
// is cancelled, and handed to the user's default application unless its scheme could run script
// or stands for nothing outside the page.
enum class NavigationDecision { allow, cancel, cancelAndOpenExternally };

NavigationDecision decideNavigation(std::optional<std::string_view> url, const URL& baseURL);

// Boundaries of native error reports.
namespace ErrorBoundary {
constexpr const char* navigation = "webview-navigation";
constexpr const char* provisionalNavigation = "webview-provisional-navigation";
constexpr const char* process = "webview-process";
}  // namespace ErrorBoundary

// The body posted to /diagnostics/error-events.
nlohmann::json makeNativeErrorReport(const std::string& domain, long code, const std::string& message,
                                     const std::string& boundary);

}  // namespace zorvel
