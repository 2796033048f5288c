#include "tools/reference-core/TaskStore.h"

#include <glib.h>

#include <algorithm>

#include "platform/GLibPtr.h"

namespace refcore {

std::string makeUUID() { return platform::GCharPtr(g_uuid_string_random()).get(); }

nlohmann::json Task::json() const {
  return {
      {"id", id},
      {"title", title},
      {"project_id", projectID ? nlohmann::json(*projectID) : nlohmann::json(nullptr)},
      {"content", content},
      {"status", status},
      {"runtime_status", runtimeStatus},
      {"turn_in_progress", turnInProgress},
      {"background_work_active", backgroundWorkActive},
  };
}

Task* TaskStore::create(std::string title, std::optional<std::string> projectID, std::string content) {
  if (tasks.size() >= maximumTasks) return nullptr;
  Task task;
  task.id = makeUUID();
  task.title = std::move(title);
  task.projectID = std::move(projectID);
  task.content = std::move(content);
  task.sequence = nextSequence++;
  auto [entry, inserted] = tasks.emplace(task.id, std::move(task));
  return &entry->second;
}

Task* TaskStore::find(const std::string& id) {
  auto found = tasks.find(id);
  return found == tasks.end() ? nullptr : &found->second;
}

std::vector<const Task*> TaskStore::list() const {
  std::vector<const Task*> result;
  for (const auto& [id, task] : tasks) result.push_back(&task);
  std::sort(result.begin(), result.end(), [](const Task* a, const Task* b) { return a->sequence < b->sequence; });
  return result;
}

std::optional<std::string> TaskStore::update(Task& task, const nlohmann::json& changes) {
  static const char* const textFields[] = {"title", "status", "runtime_status"};
  static const char* const flagFields[] = {"turn_in_progress", "background_work_active"};
  for (const char* key : textFields) {
    if (changes.contains(key) && !changes[key].is_string()) return std::string("\"") + key + "\" must be a string";
  }
  for (const char* key : flagFields) {
    if (changes.contains(key) && !changes[key].is_boolean()) return std::string("\"") + key + "\" must be a boolean";
  }
  if (changes.contains("title")) task.title = changes["title"].get<std::string>();
  if (changes.contains("status")) task.status = changes["status"].get<std::string>();
  if (changes.contains("runtime_status")) task.runtimeStatus = changes["runtime_status"].get<std::string>();
  if (changes.contains("turn_in_progress")) task.turnInProgress = changes["turn_in_progress"].get<bool>();
  if (changes.contains("background_work_active")) {
    task.backgroundWorkActive = changes["background_work_active"].get<bool>();
  }
  return std::nullopt;
}

}  // namespace refcore
