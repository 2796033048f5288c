#pragma once
// What the core saw, for tests: its start (arguments and the environment that matters), every
// control line, and every HTTP request with its headers. Kept in memory (bounded) and, when a
// path is given, appended as JSON lines to that file as it happens.
#include <cstdio>
#include <deque>
#include <nlohmann/json.hpp>
#include <string>

namespace refcore {

class Recorder {
 public:
  static constexpr size_t maximumRecords = 20000;

  explicit Recorder(std::string path = {});
  ~Recorder();
  Recorder(const Recorder&) = delete;
  Recorder& operator=(const Recorder&) = delete;

  bool enabled() const { return !filePath.empty(); }
  void write(nlohmann::json record);
  nlohmann::json all() const;

 private:
  std::string filePath;
  FILE* file = nullptr;
  std::deque<nlohmann::json> records;
};

// Text as a JSON string when it is UTF-8; otherwise {"base64": ...}, so a record never fails.
nlohmann::json textOrBytes(const std::string& bytes);

}  // namespace refcore
