#include "app/UserNotifications.h"

#include <glib.h>

#include <algorithm>

#include "app/URL.h"
#include "platform/GLibPtr.h"

namespace zorvel::UserNotifications {

namespace {

std::optional<std::string> stringField(const nlohmann::json& object, const char* name) {
  if (!object.is_object()) return std::nullopt;
  auto found = object.find(name);
  if (found == object.end() || !found->is_string()) return std::nullopt;
  return found->get<std::string>();
}

}  // namespace

std::string identifier(const std::string& taskID) {
  std::string random(platform::GCharPtr(g_uuid_string_random()).get());
  std::transform(random.begin(), random.end(), random.begin(), [](unsigned char c) { return std::toupper(c); });
  return "zorvel-task-" + taskID + "-" + random;
}

nlohmann::json userInfo(const std::string& taskID) { return {{"task_id", taskID}}; }

std::optional<std::string> taskID(const nlohmann::json& userInfo) {
  auto task = stringField(userInfo, "task_id");
  if (!task || !isUUID(*task)) return std::nullopt;
  return task;
}

}  // namespace zorvel::UserNotifications
