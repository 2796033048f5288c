#pragma once

#include <string>
#include <vector>

namespace vantrelle {

// The window and icon titles a program set, the stacks it saved them on, and the forms it chose
// for setting and querying titles (hexadecimal, UTF-8).
struct TitleState {
  struct Modes {
    bool setHex = false;
    bool queryHex = false;
    bool setUtf = false;
    bool queryUtf = false;
  };

  std::string window;
  std::string icon;
  std::vector<std::string> windowStack;
  std::vector<std::string> iconStack;
  Modes modes;
};

}  // namespace vantrelle
