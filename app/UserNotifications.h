#pragma once

#include <nlohmann/json.hpp>
#include <optional>
#include <string>

namespace zorvel {

namespace UserNotifications {

// "zorvel-task-<task id>-<fresh upper-case UUID>": no notification ever replaces another.
std::string identifier(const std::string& taskID);
nlohmann::json userInfo(const std::string& taskID);

// The task a clicked notification is about, when its user info names one.
std::optional<std::string> taskID(const nlohmann::json& userInfo);

inline constexpr const char* skippingFormat = "Skipping native notification while Zorvel is active";
inline constexpr const char* schedulingFormat = "Scheduling native notification for task %{public}s: %{public}s";
inline constexpr const char* failedFormat = "Native notification failed: %{public}s";
inline constexpr const char* queuedFormat = "Native notification queued for task %{public}s";

}  // namespace UserNotifications

}  // namespace zorvel
