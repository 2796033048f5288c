#pragma once

#include <memory>
#include <span>
#include <string>
#include <vector>

#include "Vantrelle/Parser/EscapeSequenceParser.h"

namespace vantrelle::testing {

// Logs every parser event as a line of text, merging consecutive print runs and DCS data runs
// so that the log does not depend on where chunk boundaries fell.
class RecordingHandler : public ParserHandler {
 public:
  std::vector<std::string> events;
  int resets = 0;
  int errors = 0;
  bool abortOnError = false;

  void print(std::span<const uint8_t> run) override { append("PRINT ", run); }
  void printStateReset() override { ++resets; }
  void dispatchExecute(uint8_t code) override { events.push_back("EXEC " + hex(code)); }
  void dispatchEsc(std::span<const uint8_t> collect, uint8_t code) override {
    events.push_back("ESC " + text(collect) + static_cast<char>(code));
  }
  void dispatchCsi(uint8_t code, std::span<const int> pars, std::span<const uint8_t> collect,
                   std::span<const uint8_t> parsTxt) override {
    std::string line = "CSI " + text(collect);
    for (size_t i = 0; i < pars.size(); ++i) {
      line += std::to_string(pars[i]);
      if (i < parsTxt.size()) line += static_cast<char>(parsTxt[i]);
    }
    events.push_back(line + " " + static_cast<char>(code));
  }
  void dispatchOsc(int64_t code, std::span<const uint8_t> data) override {
    events.push_back("OSC " + std::to_string(code) + " " + text(data));
  }
  void dispatchApc(uint8_t command, std::span<const uint8_t> content) override {
    events.push_back(std::string("APC ") + static_cast<char>(command) + " " + text(content));
  }
  std::unique_ptr<DcsHandler> dispatchDcs(std::span<const uint8_t> collect, uint8_t code,
                                          std::span<const int> pars) override {
    if (code == 'x') return nullptr;
    return std::make_unique<Dcs>(*this);
  }
  ParsingState parseError(const ParsingState& state) override {
    ++errors;
    events.push_back("ERROR " + hex(state.code) + " " + parserStateName(state.currentState));
    ParsingState result = state;
    result.abort = abortOnError;
    return result;
  }

  static std::string text(std::span<const uint8_t> bytes) { return {bytes.begin(), bytes.end()}; }

 private:
  class Dcs : public DcsHandler {
   public:
    explicit Dcs(RecordingHandler& owner) : owner(owner) {}
    void hook(std::span<const uint8_t> collect, std::span<const int> parameters, uint8_t flag) override {
      std::string line = "DCS-HOOK " + text(collect);
      for (int p : parameters) line += std::to_string(p) + ",";
      owner.events.push_back(line + static_cast<char>(flag));
    }
    void put(std::span<const uint8_t> data) override { owner.append("DCS-PUT ", data); }
    void unhook() override { owner.events.push_back("DCS-UNHOOK"); }
    ~Dcs() override { owner.events.push_back("DCS-DROP"); }

   private:
    RecordingHandler& owner;
  };

  void append(const std::string& tag, std::span<const uint8_t> run) {
    if (!events.empty() && events.back().rfind(tag, 0) == 0) {
      events.back() += text(run);
    } else {
      events.push_back(tag + text(run));
    }
  }
  static std::string hex(uint8_t code) {
    static const char digits[] = "0123456789abcdef";
    return {digits[code >> 4], digits[code & 15]};
  }
};

}  // namespace vantrelle::testing
