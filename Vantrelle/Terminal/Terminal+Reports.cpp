// Device attributes, status reports and the setting query (DECRQSS).
#include "Vantrelle/Terminal/Terminal.h"

namespace vantrelle {

void Terminal::cmdSendDeviceAttributes(std::span<const int> pars, std::span<const uint8_t> collect) {}
void Terminal::cmdDeviceStatus(std::span<const int> pars, std::span<const uint8_t> collect) {}
std::unique_ptr<DcsHandler> Terminal::makeDecrqssHandler() { return nullptr; }

}  // namespace vantrelle
