#include "Vantrelle/Buffer/TinyAtom.h"

namespace vantrelle {

std::unordered_map<uint16_t, std::any>& TinyAtom::map() {
  static std::unordered_map<uint16_t, std::any> table;
  return table;
}

std::optional<TinyAtom> TinyAtom::lookup(std::any value) {
  int next = lastUsed + 1;
  if (next > maxCode) return std::nullopt;
  map()[uint16_t(next)] = std::move(value);
  lastUsed = next;
  return TinyAtom{uint16_t(next)};
}

void TinyAtom::release(uint16_t code) { map().erase(code); }

const std::any* TinyAtom::target() const {
  if (code == 0) return nullptr;
  auto& table = map();
  auto found = table.find(code);
  return found == table.end() ? nullptr : &found->second;
}

}  // namespace vantrelle
