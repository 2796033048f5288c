#pragma once

#include <chrono>
#include <map>
#include <string>

#include <gtkmm.h>

namespace zorvel {

// The record of one live task terminal.
struct TerminalSession {
  Gtk::Widget* view = nullptr;
  std::chrono::steady_clock::time_point lastUsed = std::chrono::steady_clock::now();
};

// The live task terminals by task id.
struct TerminalSessions {
  std::map<std::string, TerminalSession> records;
};

}  // namespace zorvel
