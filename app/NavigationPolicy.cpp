#include "app/NavigationPolicy.h"

#include <algorithm>
#include <array>
#include <cctype>

namespace zorvel {

namespace {
constexpr std::array<std::string_view, 5> blockedSchemes{"javascript", "data", "vbscript", "about", "blob"};
}

NavigationDecision decideNavigation(std::optional<std::string_view> text, const URL& baseURL) {
  if (!text) return NavigationDecision::cancel;
  auto url = URL::parse(*text);
  if (!url) return NavigationDecision::cancel;
  if (url->scheme() == std::optional<std::string>("zorvel-ui")) return NavigationDecision::allow;
  if (url->hasSameOrigin(baseURL)) return NavigationDecision::allow;
  std::string scheme = *url->scheme();
  std::transform(scheme.begin(), scheme.end(), scheme.begin(), [](unsigned char c) { return std::tolower(c); });
  if (std::find(blockedSchemes.begin(), blockedSchemes.end(), scheme) != blockedSchemes.end())
    return NavigationDecision::cancel;
  return NavigationDecision::cancelAndOpenExternally;
}

nlohmann::json makeNativeErrorReport(const std::string& domain, long code, const std::string& message,
                                     const std::string& boundary) {
  return {{"source", "native"},
          {"exception_type", domain},
          {"message", message},
          {"stack_trace", nullptr},
          {"context", {{"boundary", boundary}, {"code", code}}}};
}

}  // namespace zorvel
