#include "tools/reference-core/Recorder.h"

#include <glib.h>

#include "tools/reference-core/Base64.h"

namespace refcore {

Recorder::Recorder(std::string path) : filePath(std::move(path)) {
  if (!filePath.empty()) file = std::fopen(filePath.c_str(), "a");
}

Recorder::~Recorder() {
  if (file) std::fclose(file);
}

void Recorder::write(nlohmann::json record) {
  if (file) {
    const std::string line = record.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace) + "\n";
    std::fwrite(line.data(), 1, line.size(), file);
    std::fflush(file);
  }
  records.push_back(std::move(record));
  if (records.size() > maximumRecords) records.pop_front();
}

nlohmann::json Recorder::all() const {
  nlohmann::json list = nlohmann::json::array();
  for (const auto& record : records) list.push_back(record);
  return list;
}

nlohmann::json textOrBytes(const std::string& bytes) {
  if (g_utf8_validate(bytes.data(), static_cast<gssize>(bytes.size()), nullptr)) return bytes;
  return {{"base64", base64Encode(bytes)}};
}

}  // namespace refcore
