#pragma once
// Tasks kept in memory for the life of the core.
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

namespace refcore {

struct Task {
  std::string id;  // lower-case UUID
  std::string title;
  std::optional<std::string> projectID;
  std::string content;
  std::string status = "open";
  std::string runtimeStatus = "idle";
  bool turnInProgress = false;
  bool backgroundWorkActive = false;
  int64_t sequence = 0;

  nlohmann::json json() const;
};

class TaskStore {
 public:
  static constexpr size_t maximumTasks = 10000;

  // Nothing when the store is full.
  Task* create(std::string title, std::optional<std::string> projectID, std::string content = {});
  Task* find(const std::string& id);
  std::vector<const Task*> list() const;

  // Applies the fields of `changes` that have the right JSON types; the error text names the
  // first field of a wrong type (and nothing is applied then).
  static std::optional<std::string> update(Task& task, const nlohmann::json& changes);

 private:
  std::map<std::string, Task> tasks;
  int64_t nextSequence = 1;
};

std::string makeUUID();

}  // namespace refcore
