#include "Vantrelle/Parser/TransitionTable.h"

#include <initializer_list>

namespace vantrelle {
namespace {

using S = ParserState;
using A = ParserAction;

class Builder {
 public:
  explicit Builder(TransitionTable& t) : t(t) {}

  void add(uint8_t code, S state, A action, S next) {
    t.table[(static_cast<int>(state) << 8) | code] =
        static_cast<uint8_t>((static_cast<int>(action) << 4) | static_cast<int>(next));
  }
  // Bytes low up to and including high.
  void range(int low, int high, S state, A action, S next) {
    for (int c = low; c <= high; ++c) add(static_cast<uint8_t>(c), state, action, next);
  }
  void list(std::initializer_list<int> codes, S state, A action, S next) {
    for (int c : codes) add(static_cast<uint8_t>(c), state, action, next);
  }
  // The C0 controls other than CAN, SUB and ESC.
  void c0(S state, A action, S next) {
    range(0x00, 0x17, state, action, next);
    add(0x19, state, action, next);
    range(0x1C, 0x1F, state, action, next);
  }

 private:
  TransitionTable& t;
};

constexpr int kStates = 15;

}  // namespace

TransitionTable TransitionTable::buildVt500TransitionTable() {
  TransitionTable t;
  Builder b(t);
  for (int s = 0; s < kStates; ++s) b.range(0x00, 0xA0, S(s), A::error, S::ground);

  // Controls that act the same in every state unless a row below overrides them.
  for (int si = 0; si < kStates; ++si) {
    S s = S(si);
    b.list({0x18, 0x1A, 0x99, 0x9A}, s, A::execute, S::ground);
    b.range(0x80, 0x8F, s, A::execute, S::ground);
    b.range(0x91, 0x97, s, A::execute, S::ground);
    b.add(0x9C, s, A::ignore, S::ground);
    b.add(0x1B, s, A::clear, S::escape);
    b.add(0x9D, s, A::oscStart, S::oscString);
    b.list({0x98, 0x9E}, s, A::ignore, S::sosPmApcString);
    b.add(0x9F, s, A::oscStart, S::apcString);
    b.add(0x9B, s, A::clear, S::csiEntry);
    b.add(0x90, s, A::clear, S::dcsEntry);
  }

  b.c0(S::ground, A::execute, S::ground);
  b.range(0x20, 0x7E, S::ground, A::print, S::ground);

  b.c0(S::escape, A::execute, S::escape);
  b.add(0x7F, S::escape, A::ignore, S::escape);
  b.add(']', S::escape, A::oscStart, S::oscString);
  b.add('_', S::escape, A::oscStart, S::apcString);
  b.list({'X', '^'}, S::escape, A::ignore, S::sosPmApcString);
  b.add('[', S::escape, A::clear, S::csiEntry);
  b.range(0x20, 0x2F, S::escape, A::collect, S::escapeIntermediate);
  b.range(0x30, 0x4F, S::escape, A::escDispatch, S::ground);
  b.range(0x51, 0x57, S::escape, A::escDispatch, S::ground);
  b.list({0x59, 0x5A, 0x5C}, S::escape, A::escDispatch, S::ground);
  b.range(0x60, 0x7E, S::escape, A::escDispatch, S::ground);
  b.add('P', S::escape, A::clear, S::dcsEntry);

  b.c0(S::escapeIntermediate, A::execute, S::escapeIntermediate);
  b.add(0x7F, S::escapeIntermediate, A::ignore, S::escapeIntermediate);
  b.range(0x20, 0x2F, S::escapeIntermediate, A::collect, S::escapeIntermediate);
  b.range(0x30, 0x7E, S::escapeIntermediate, A::escDispatch, S::ground);

  b.c0(S::csiEntry, A::execute, S::csiEntry);
  b.add(0x7F, S::csiEntry, A::ignore, S::csiEntry);
  b.range(0x40, 0x7E, S::csiEntry, A::csiDispatch, S::ground);
  b.range(0x30, 0x39, S::csiEntry, A::param, S::csiParam);
  b.add(';', S::csiEntry, A::param, S::csiParam);
  b.range(0x3C, 0x3F, S::csiEntry, A::collect, S::csiParam);
  b.range(0x20, 0x2F, S::csiEntry, A::collect, S::csiIntermediate);

  b.c0(S::csiParam, A::execute, S::csiParam);
  b.add(0x7F, S::csiParam, A::ignore, S::csiParam);
  b.range(0x30, 0x3B, S::csiParam, A::param, S::csiParam);
  b.range(0x3C, 0x3F, S::csiParam, A::ignore, S::csiIgnore);
  b.range(0x20, 0x2F, S::csiParam, A::collect, S::csiIntermediate);
  b.range(0x40, 0x7E, S::csiParam, A::csiDispatch, S::ground);

  b.c0(S::csiIntermediate, A::execute, S::csiIntermediate);
  b.add(0x7F, S::csiIntermediate, A::ignore, S::csiIntermediate);
  b.range(0x20, 0x2F, S::csiIntermediate, A::collect, S::csiIntermediate);
  b.range(0x30, 0x3F, S::csiIntermediate, A::ignore, S::csiIgnore);
  b.range(0x40, 0x7E, S::csiIntermediate, A::csiDispatch, S::ground);

  b.c0(S::csiIgnore, A::execute, S::csiIgnore);
  b.range(0x20, 0x3F, S::csiIgnore, A::ignore, S::csiIgnore);
  b.add(0x7F, S::csiIgnore, A::ignore, S::csiIgnore);
  b.range(0x40, 0x7E, S::csiIgnore, A::ignore, S::ground);

  b.c0(S::sosPmApcString, A::ignore, S::sosPmApcString);
  b.range(0x20, 0x7F, S::sosPmApcString, A::ignore, S::sosPmApcString);
  b.add(0x9C, S::sosPmApcString, A::ignore, S::ground);

  // Inside OSC and APC strings every byte from 0x20 up is data, the C1 range included: it is
  // where UTF-8 continuation bytes live, so treating them as controls would make the outcome
  // depend on where a chunk boundary falls. Only BEL, CAN and ESC end a string; the other C0
  // bytes (SUB among them) are dropped.
  for (S s : {S::oscString, S::apcString}) {
    b.c0(s, A::ignore, s);
    b.add(0x1A, s, A::ignore, s);
    b.range(0x20, 0xA0, s, A::oscPut, s);
    b.list({0x07, 0x18, 0x1B}, s, A::oscEnd, S::ground);
  }

  b.c0(S::dcsEntry, A::ignore, S::dcsEntry);
  b.add(0x7F, S::dcsEntry, A::ignore, S::dcsEntry);
  b.range(0x20, 0x2F, S::dcsEntry, A::collect, S::dcsIntermediate);
  b.add(':', S::dcsEntry, A::ignore, S::dcsIgnore);
  b.range(0x30, 0x39, S::dcsEntry, A::param, S::dcsParam);
  b.add(';', S::dcsEntry, A::param, S::dcsParam);
  b.range(0x3C, 0x3F, S::dcsEntry, A::collect, S::dcsParam);
  b.range(0x40, 0x7E, S::dcsEntry, A::dcsHook, S::dcsPassthrough);

  b.c0(S::dcsIgnore, A::ignore, S::dcsIgnore);
  b.range(0x20, 0x7F, S::dcsIgnore, A::ignore, S::dcsIgnore);

  b.c0(S::dcsParam, A::ignore, S::dcsParam);
  b.add(0x7F, S::dcsParam, A::ignore, S::dcsParam);
  b.range(0x30, 0x39, S::dcsParam, A::param, S::dcsParam);
  b.add(';', S::dcsParam, A::param, S::dcsParam);
  b.add(':', S::dcsParam, A::ignore, S::dcsIgnore);
  b.range(0x3C, 0x3F, S::dcsParam, A::ignore, S::dcsIgnore);
  b.range(0x20, 0x2F, S::dcsParam, A::collect, S::dcsIntermediate);
  b.range(0x40, 0x7E, S::dcsParam, A::dcsHook, S::dcsPassthrough);

  b.c0(S::dcsIntermediate, A::ignore, S::dcsIntermediate);
  b.add(0x7F, S::dcsIntermediate, A::ignore, S::dcsIntermediate);
  b.range(0x20, 0x2F, S::dcsIntermediate, A::collect, S::dcsIntermediate);
  b.range(0x30, 0x3F, S::dcsIntermediate, A::ignore, S::dcsIgnore);
  b.range(0x40, 0x7E, S::dcsIntermediate, A::dcsHook, S::dcsPassthrough);

  b.c0(S::dcsPassthrough, A::dcsPut, S::dcsPassthrough);
  b.range(0x20, 0x7E, S::dcsPassthrough, A::dcsPut, S::dcsPassthrough);
  b.add(0x7F, S::dcsPassthrough, A::ignore, S::dcsPassthrough);
  b.list({0x1B, 0x9C}, S::dcsPassthrough, A::dcsUnhook, S::ground);
  return t;
}

const TransitionTable& TransitionTable::sharedVt500Table() {
  static const TransitionTable shared = buildVt500TransitionTable();
  return shared;
}

const char* parserStateName(ParserState state) {
  static const char* const names[] = {"ground",    "escape",          "escapeIntermediate", "csiEntry",
                                      "csiParam",  "csiIntermediate", "csiIgnore",          "sosPmApcString",
                                      "oscString", "apcString",       "dcsEntry",           "dcsParam",
                                      "dcsIgnore", "dcsIntermediate", "dcsPassthrough"};
  auto index = static_cast<size_t>(state);
  return index < std::size(names) ? names[index] : "invalid";
}

}  // namespace vantrelle
