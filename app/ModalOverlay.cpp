#include "app/ModalOverlay.h"

#include <algorithm>
#include <array>

namespace zorvel::ModalOverlay {

namespace {

constexpr std::array<Kind, 6> kinds{{
    {"feedback", Requirement::none, {520, 406}},
    {"bug-report", Requirement::none, {560, 586}},
    {"error-report", Requirement::errorEvent, {720, 656}},
    {"confirmation", Requirement::payload, {480, 276}},
    {"defer-task", Requirement::payload, {520, 406}},
    {"product-info", Requirement::payload, {720, 656}},
}};

constexpr double minimumWidth = 360;
constexpr double minimumHeight = 240;
constexpr double margins = 48;

}  // namespace

std::optional<Kind> kind(std::string_view name) {
  for (const auto& entry : kinds) {
    if (entry.name == name) return entry;
  }
  return std::nullopt;
}

bool canOpen(std::string_view name, const std::optional<nlohmann::json>& errorEvent,
             const std::optional<nlohmann::json>& payload) {
  auto found = kind(name);
  if (!found) return false;
  switch (found->requirement) {
    case Requirement::none:
      return true;
    case Requirement::errorEvent:
      return errorEvent.has_value();
    case Requirement::payload:
      return payload.has_value();
  }
  return false;
}

nlohmann::json prewarmPayload() {
  return {{"request_id", "prewarm"},
          {"title", "Preparing Zorvel"},
          {"content", "Preparing dialogs"},
          {"confirm_label", "Continue"},
          {"danger", false}};
}

Size clampedContentSize(Size available, double width, double height) {
  // NaN from a page must not reach the layout: it fails every comparison and would survive max.
  if (std::isnan(width)) width = minimumWidth;
  if (std::isnan(height)) height = minimumHeight;
  return {std::min(std::max(width, minimumWidth), std::max(available.width - margins, minimumWidth)),
          std::min(std::max(height, minimumHeight), std::max(available.height - margins, minimumHeight))};
}

std::string hostURL(bool darkTheme) {
  return std::string("zorvel-ui://app/index.html?native-overlay=host&theme=") + (darkTheme ? "dark" : "light");
}

std::optional<std::string> serialized(const nlohmann::json& value) {
  try {
    return value.dump();
  } catch (const nlohmann::json::exception&) {
    return std::nullopt;
  }
}

std::optional<std::string> openScript(std::string_view kind, bool darkTheme, std::int64_t generation,
                                      const std::optional<nlohmann::json>& errorEvent,
                                      const std::optional<nlohmann::json>& payload) {
  nlohmann::json detail = {{"kind", kind}, {"theme", darkTheme ? "dark" : "light"}, {"generation", generation}};
  if (errorEvent) detail["error_event"] = *errorEvent;
  if (payload) detail["payload"] = *payload;
  auto json = serialized(detail);
  if (!json) return std::nullopt;
  return "window.dispatchEvent(new CustomEvent('zorvel:native-overlay-open', { detail: " + *json + " }))";
}

std::optional<std::string> resultScript(std::int64_t generation, const std::string& answer,
                                        std::optional<std::int64_t> activeGeneration) {
  if (activeGeneration != generation) return std::nullopt;
  return "window.dispatchEvent(new CustomEvent('zorvel:native-overlay-result', { detail: " + answer + " }));";
}

std::string closedScript(std::optional<std::int64_t> activeGeneration) {
  if (!activeGeneration) return "window.dispatchEvent(new Event('zorvel:native-overlay-closed'))";
  return "window.dispatchEvent(new CustomEvent('zorvel:native-overlay-closed', { detail: { generation: " +
         std::to_string(*activeGeneration) + " } }))";
}

}  // namespace zorvel::ModalOverlay
