#include "Vantrelle/Buffer/TinyAtom.h"

namespace vantrelle {

std::unordered_map<uint16_t, std::any>& TinyAtom::map() {
  static std::unordered_map<uint16_t, std::any> table;
  return table;
}

std::optional<TinyAtom> TinyAtom::lookup(std::any value) {
  auto& table = map();
  int next = lastUsed + 1;
  if (next <= maxCode) {
    table[uint16_t(next)] = std::move(value);
    lastUsed = next;
    return TinyAtom{uint16_t(next)};
  }
  // A long session hands out every code once; after that, reuse released ones.
  if (table.size() >= size_t(maxCode)) return std::nullopt;
  for (int step = 0; step < maxCode; ++step) {
    const int candidate = lastReused % maxCode + 1;
    lastReused = candidate;
    if (table.find(uint16_t(candidate)) == table.end()) {
      table[uint16_t(candidate)] = std::move(value);
      return TinyAtom{uint16_t(candidate)};
    }
  }
  return std::nullopt;
}

void TinyAtom::release(uint16_t code) { map().erase(code); }

bool TinyAtom::exhausted() { return lastUsed >= maxCode && map().size() >= size_t(maxCode); }

const std::any* TinyAtom::target() const {
  if (code == 0) return nullptr;
  auto& table = map();
  auto found = table.find(code);
  return found == table.end() ? nullptr : &found->second;
}

}  // namespace vantrelle
