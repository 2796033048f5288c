#pragma once

#include <cstdint>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <string_view>

namespace zorvel {

// The rules of the modal overlay that do not need a window: which dialogs exist and what they
// need, their sizes, and the scripts that carry an opening, an answer and a close to the pages.
namespace ModalOverlay {

struct Size {
  double width = 0;
  double height = 0;
  bool operator==(const Size&) const = default;
};

enum class Requirement { none, errorEvent, payload };

struct Kind {
  std::string_view name;
  Requirement requirement;
  Size contentSize;
};

// The dialog kind, or nothing for a kind the overlay page does not render.
std::optional<Kind> kind(std::string_view name);

// Whether an opening of `name` has what its dialog needs; unknown kinds never open.
bool canOpen(std::string_view name, const std::optional<nlohmann::json>& errorEvent,
             const std::optional<nlohmann::json>& payload);

// The prewarm renders a large dialog so that the page's first real one costs nothing.
inline constexpr Size prewarmContentSize{744, 680};
inline constexpr std::string_view prewarmKind = "confirmation";
nlohmann::json prewarmPayload();

// The dialog size for a page's request inside an area of `available`: never below 360 x 240,
// and 24 points clear of each edge unless the area is too small for even the minimum.
Size clampedContentSize(Size available, double width, double height);

// "zorvel-ui://app/index.html?native-overlay=host&theme=dark" or "...theme=light".
std::string hostURL(bool darkTheme);

// JSON text as the platform writes it, or nothing when the value cannot be written (text that is
// not UTF-8).
std::optional<std::string> serialized(const nlohmann::json& value);

std::optional<std::string> openScript(std::string_view kind, bool darkTheme, std::int64_t generation,
                                      const std::optional<nlohmann::json>& errorEvent,
                                      const std::optional<nlohmann::json>& payload);

// The main page's script for an answer of the overlay page (JSON text): only an answer of the
// active opening is passed on.
std::optional<std::string> resultScript(std::int64_t generation, const std::string& answer,
                                        std::optional<std::int64_t> activeGeneration);

std::string closedScript(std::optional<std::int64_t> activeGeneration);

inline constexpr const char* dismissScript = "window.dispatchEvent(new Event('zorvel:native-overlay-dismiss'))";

}  // namespace ModalOverlay

}  // namespace zorvel
