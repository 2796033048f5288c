#include "Vantrelle/Terminal/CharSets.h"

#include <initializer_list>
#include <utility>

namespace vantrelle {
namespace {

using Entries = std::initializer_list<std::pair<uint8_t, char32_t>>;

CharsetMap make(Entries entries) {
  CharsetMap map;
  for (auto [byte, replacement] : entries) {
    map.entries[byte] = replacement;
    ++map.count;
  }
  return map;
}

struct Catalogue {
  std::array<CharsetMap, 128> sets{};
  std::array<bool, 128> present{};

  void add(std::initializer_list<uint8_t> designators, const CharsetMap& map) {
    for (uint8_t d : designators) {
      sets[d] = map;
      present[d] = true;
    }
  }
};

// DEC STD 070 special graphics and the national replacement sets.
Catalogue build() {
  Catalogue c;
  c.add({'0', '2'}, make({{0x60, U'\u25C6'}, {0x61, U'\u2592'}, {0x62, U'\u2409'}, {0x63, U'\u240C'}, {0x64, U'\u240D'},
                          {0x65, U'\u240A'}, {0x66, U'\u00B0'}, {0x67, U'\u00B1'}, {0x68, U'\u2424'}, {0x69, U'\u240B'},
                          {0x6A, U'\u2518'}, {0x6B, U'\u2510'}, {0x6C, U'\u250C'}, {0x6D, U'\u2514'}, {0x6E, U'\u253C'},
                          {0x6F, U'\u23BA'}, {0x70, U'\u23BB'}, {0x71, U'\u2500'}, {0x72, U'\u23BC'}, {0x73, U'\u23BD'},
                          {0x74, U'\u251C'}, {0x75, U'\u2524'}, {0x76, U'\u2534'}, {0x77, U'\u252C'}, {0x78, U'\u2502'},
                          {0x79, U'\u2264'}, {0x7A, U'\u2265'}, {0x7B, U'\u03C0'}, {0x7C, U'\u2260'}, {0x7D, U'\u00A3'},
                          {0x7E, U'\u00B7'}}));
  c.add({'A'}, make({{0x23, U'\u00A3'}}));
  c.add({'B'}, make({}));
  c.add({'4'}, make({{0x23, U'\u00A3'},
                     {0x40, U'\u00BE'},
                     {0x5B, U'\u0133'},
                     {0x5C, U'\u00BD'},
                     {0x5D, U'|'},
                     {0x7B, U'\u00A8'},
                     {0x7C, U'f'},
                     {0x7D, U'\u00BC'},
                     {0x7E, U'\u00B4'}}));
  c.add({'5', 'C'}, make({{0x5B, U'\u00C4'},
                          {0x5C, U'\u00D6'},
                          {0x5D, U'\u00C5'},
                          {0x5E, U'\u00DC'},
                          {0x60, U'\u00E9'},
                          {0x7B, U'\u00E4'},
                          {0x7C, U'\u00F6'},
                          {0x7D, U'\u00E5'},
                          {0x7E, U'\u00FC'}}));
  c.add({'R'}, make({{0x23, U'\u00A3'},
                     {0x40, U'\u00E0'},
                     {0x5B, U'\u00B0'},
                     {0x5C, U'\u00E7'},
                     {0x5D, U'\u00A7'},
                     {0x7B, U'\u00E9'},
                     {0x7C, U'\u00F9'},
                     {0x7D, U'\u00E8'},
                     {0x7E, U'\u00A8'}}));
  c.add({'Q'}, make({{0x40, U'\u00E0'},
                     {0x5B, U'\u00E2'},
                     {0x5C, U'\u00E7'},
                     {0x5D, U'\u00EA'},
                     {0x5E, U'\u00EE'},
                     {0x60, U'\u00F4'},
                     {0x7B, U'\u00E9'},
                     {0x7C, U'\u00F9'},
                     {0x7D, U'\u00E8'},
                     {0x7E, U'\u00FB'}}));
  c.add({'K'}, make({{0x40, U'\u00A7'},
                     {0x5B, U'\u00C4'},
                     {0x5C, U'\u00D6'},
                     {0x5D, U'\u00DC'},
                     {0x7B, U'\u00E4'},
                     {0x7C, U'\u00F6'},
                     {0x7D, U'\u00FC'},
                     {0x7E, U'\u00DF'}}));
  c.add({'Y'}, make({{0x23, U'\u00A3'},
                     {0x40, U'\u00A7'},
                     {0x5B, U'\u00B0'},
                     {0x5C, U'\u00E7'},
                     {0x5D, U'\u00E9'},
                     {0x60, U'\u00F9'},
                     {0x7B, U'\u00E0'},
                     {0x7C, U'\u00F2'},
                     {0x7D, U'\u00E8'},
                     {0x7E, U'\u00EC'}}));
  c.add({'6', 'E'}, make({{0x40, U'\u00C4'},
                          {0x5B, U'\u00C6'},
                          {0x5C, U'\u00D8'},
                          {0x5D, U'\u00C5'},
                          {0x5E, U'\u00DC'},
                          {0x60, U'\u00E4'},
                          {0x7B, U'\u00E6'},
                          {0x7C, U'\u00F8'},
                          {0x7D, U'\u00E5'},
                          {0x7E, U'\u00FC'}}));
  c.add({'Z'}, make({{0x23, U'\u00A3'},
                     {0x40, U'\u00A7'},
                     {0x5B, U'\u00A1'},
                     {0x5C, U'\u00D1'},
                     {0x5D, U'\u00BF'},
                     {0x7B, U'\u00B0'},
                     {0x7C, U'\u00F1'},
                     {0x7D, U'\u00E7'}}));
  c.add({'7', 'H'}, make({{0x40, U'\u00C9'},
                          {0x5B, U'\u00C4'},
                          {0x5C, U'\u00D6'},
                          {0x5D, U'\u00C5'},
                          {0x5E, U'\u00DC'},
                          {0x60, U'\u00E9'},
                          {0x7B, U'\u00E4'},
                          {0x7C, U'\u00F6'},
                          {0x7D, U'\u00E5'},
                          {0x7E, U'\u00FC'}}));
  c.add({'='}, make({{0x23, U'\u00F9'},
                     {0x40, U'\u00E0'},
                     {0x5B, U'\u00E9'},
                     {0x5C, U'\u00E7'},
                     {0x5D, U'\u00EA'},
                     {0x5E, U'\u00EE'},
                     {0x5F, U'\u00E8'},
                     {0x60, U'\u00F4'},
                     {0x7B, U'\u00E4'},
                     {0x7C, U'\u00F6'},
                     {0x7D, U'\u00FC'},
                     {0x7E, U'\u00FB'}}));
  return c;
}

}  // namespace

const CharsetMap* CharSets::all(uint8_t designator) {
  static const Catalogue catalogue = build();
  if (designator >= 128 || !catalogue.present[designator]) return nullptr;
  return &catalogue.sets[designator];
}

}  // namespace vantrelle
