#pragma once
// Small helpers over libsoup's server messages: a parsed request and JSON answers.
#include <map>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

typedef struct _SoupServerMessage SoupServerMessage;
typedef struct _GHashTable GHashTable;

namespace refcore {

struct Request {
  SoupServerMessage* message = nullptr;
  std::string method;
  std::string path;                   // as sent, percent-encoded
  std::vector<std::string> segments;  // decoded path segments; empty when the path is malformed
  bool pathValid = true;
  std::map<std::string, std::string> query;
  nlohmann::json headers = nlohmann::json::object();
  std::string body;

  std::optional<std::string> header(const char* name) const;
  // The body as a JSON object, or nothing.
  std::optional<nlohmann::json> jsonObject() const;
};

Request readRequest(SoupServerMessage* message, GHashTable* query);

void respondJSON(SoupServerMessage* message, int status, const nlohmann::json& body);
void respondDetail(SoupServerMessage* message, int status, const std::string& detail);
void respondBytes(SoupServerMessage* message, int status, const char* contentType, const std::string& bytes);

bool isUUID(const std::string& text);
std::string lowercased(std::string text);

}  // namespace refcore
