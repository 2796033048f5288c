#pragma once

// The parse loop for a handler of known type, included where that type is complete. It keeps to
// the ground state and the control sequences that begin and end there; everything else runs on
// the table-driven machine, which hands back once it returns to the ground state.
#include <bit>
#include <cstring>

#include "Vantrelle/Parser/ByteScan.h"
#include "Vantrelle/Parser/EscapeSequenceParser.h"

namespace vantrelle {

template <typename Handler>
void EscapeSequenceParser::parseWith(Handler& target, std::span<const uint8_t> data) {
  const uint8_t* const begin = data.data();
  const uint8_t* const end = begin + data.size();
  const uint8_t* p = begin;
  // Like the machine, the state lives in a local for the whole call: a handler that resets the
  // parser meanwhile does not change where this call goes on.
  ParserState state = currentState;
  while (p < end) {
    if (state == ParserState::ground) {
      const uint8_t code = *p;
      if (code >= 0x20) {
        // Colourful output prints one character between two control sequences.
        if (end - p > 1 && p[1] == 0x1B) {
          target.print({p, 1});
          ++p;
          continue;
        }
        if constexpr (requires { target.printText(std::span<const uint8_t>(), true); }) {
          // A handler that takes text of one column per byte its own way is told so.
          const PrintableRun rest = printableRun(p + 1, static_cast<size_t>(end - p - 1));
          target.printText({p, 1 + rest.length}, rest.belowDel && code < 0x7F);
          p += 1 + rest.length;
        } else {
          const size_t length = 1 + printableRunLength(p + 1, static_cast<size_t>(end - p - 1));
          target.print({p, length});
          p += length;
        }
        continue;
      }
      if (code != 0x1B) {
        // Every C0 control but ESC is executed in the ground state, CAN and SUB included.
        target.dispatchExecute(code);
        ++p;
        continue;
      }
      if (end - p > 2 && p[1] == '[') {
        size_t taken = 0;
        // Cursor positions are read whole only while they keep coming, so that output of other
        // sequences, colours before every cell above all, does not pay for looking.
        if (recentCursorPositions != 0 && end - p >= 10) {
          uint64_t word;
          std::memcpy(&word, p + 2, sizeof word);
          if constexpr (std::endian::native == std::endian::big) word = __builtin_bswap64(word);
          if (hasByte(word, 'H')) taken = takeCursorPosition(word);
          if (!taken) --recentCursorPositions;
        }
        if (!taken) taken = takePlainCsi(p + 2, end);
        if (taken) {
          dispatchTakenCsi(target, p[1 + taken]);
          p += 2 + taken;
          continue;
        }
      }
    }
    const MachineRun run = runToGround({p, static_cast<size_t>(end - p)}, state);
    if (run.aborted) return;
    state = run.state;
    p += run.taken;
  }
  currentState = state;
}

// Out of line, so that the handler's dispatch goes in line here rather than stay a call from the
// parse loop.
template <typename Handler>
[[gnu::noinline]] void EscapeSequenceParser::dispatchTakenCsi(Handler& target, uint8_t final) {
  if (final == 'H') recentCursorPositions = kCursorPositionMemory;
  // ESC and '[' each reset the print state on the machine's way in.
  target.printStateReset();
  target.printStateReset();
  target.dispatchCsi(final, pars(), collect(), parsTxt());
}

// CUP with a row and a column of one to three digits each, the form full-screen programs send
// before nearly every run they repaint, given as the eight bytes after its ESC [ read in order.
// Both numbers come from the one word without a branch on each digit: how many digits a
// coordinate has changes from one sequence to the next, which no predictor follows. Its
// parameters are taken as takePlainCsi takes them; anything else returns 0 having changed nothing.
inline size_t EscapeSequenceParser::takeCursorPosition(uint64_t word) {
  constexpr uint64_t kOnes = 0x0101010101010101u;
  // Digits become 0 to 9 in their bytes; every other byte gets its top bit in `other`.
  const uint64_t digits = word ^ (kOnes * '0');
  const uint64_t other = (((digits & (kOnes * 0x7F)) + kOnes * (0x80 - 10)) | digits) & (kOnes * 0x80);
  const int rowLength = std::countr_zero(other) >> 3;
  const int separatorAt = rowLength & 7;
  const int colLength = std::countr_zero(other >> (8 * separatorAt) >> 8) >> 3;
  const int finalAt = (separatorAt + 1 + colLength) & 7;
  const auto byteAt = [word](int at) { return uint8_t(word >> (8 * at)); };
  const bool cup = unsigned(rowLength - 1) < 3 && unsigned(colLength - 1) < 3 && byteAt(separatorAt) == ';' &&
                   byteAt(finalAt) == 'H';
  if (!cup) return 0;
  // The digits ending at `endAt`, `count` of them, moved to the top of the word behind zeros, and
  // summed in pairs and then pairs of pairs.
  const auto number = [digits](int endAt, int count) {
    uint64_t top = digits << (64 - 8 * endAt) & ~uint64_t(0) << (64 - 8 * count);
    auto four = uint32_t(top >> 32);
    four = (four * 10 + (four >> 8)) & 0x00FF00FF;
    return int((four * 100 + (four >> 16)) & 0xFFFF);
  };
  _pars[0] = number(rowLength, rowLength);
  _pars[1] = number(finalAt, colLength);
  _parsTxt[0] = ';';
  _parsCount = 2;
  _collect[0] = '?';
  _collectCount = 0;
  _collectOverflow = false;
  _parameterLimitExceeded = false;
  return size_t(finalAt) + 1;
}

// A control sequence after its ESC [, complete in the data and of the plain form nearly all
// are: an optional '?', then digits, ';' and ':' (not first), and a final byte, with no more
// parameters than kept. Its parameters are taken as the machine would take them, and the bytes
// after the introducer up to its final byte are returned; anything else returns 0 having changed
// nothing the machine does not clear on its way in.
inline size_t EscapeSequenceParser::takePlainCsi(const uint8_t* const start, const uint8_t* const end) {
  const uint8_t* p = start;
  size_t collectCount = 0;
  if (*p == '?') {
    collectCount = 1;
    ++p;
  }
  if (p == end || *p == ':') return 0;
  if (end - p >= kRoomyCsi) {
    if (const uint8_t* const final = takeRoomyFields(p)) {
      _collect[0] = '?';
      _collectCount = collectCount;
      _collectOverflow = false;
      _parameterLimitExceeded = false;
      return static_cast<size_t>(final + 1 - start);
    }
  }
  int* const values = _pars.data();
  uint8_t* const separators = _parsTxt.data();
  size_t count = 1;
  int value = 0;
  // Where eight bytes are left before the end of the data.
  const auto* const roomy = end - start >= 8 ? end - 8 : start - 1;
  for (;;) {
    // Four digits cannot reach the largest value, and with eight bytes left they need no check
    // on the end of the data; anything longer goes on in the loop below.
    bool more = true;
    if (p <= roomy) {
      unsigned digit = *p - unsigned('0');
      for (int k = 0; k < 4 && digit <= 9; ++k) {
        value = value * 10 + static_cast<int>(digit);
        digit = *++p - unsigned('0');
      }
      more = digit <= 9;
    }
    if (more) {
      p = takeDigits(p, end, value);
      if (p == end) return 0;
    }
    const uint8_t code = *p;
    if (code != ';' && code != ':') {
      if (code < 0x40 || code > 0x7E) return 0;
      break;
    }
    if (count == static_cast<size_t>(kMaxParameters)) return 0;
    values[count - 1] = value;
    separators[count - 1] = code;
    ++count;
    value = 0;
    ++p;
  }
  values[count - 1] = value;
  _parsCount = count;
  _collect[0] = '?';
  _collectCount = collectCount;
  _collectOverflow = false;
  _parameterLimitExceeded = false;
  return static_cast<size_t>(p + 1 - start);
}

// The parameters at `p` where kRoomyCsi bytes are readable there and they are of the form nearly
// every colour and cursor position has: fields of at most four digits separated by ';', with the
// final byte within the first 24 bytes. None of the bytes then needs a check on the end of the
// data, nor the count of fields one on the limit, as that many bytes hold no more fields than
// kept. The fields are taken as takePlainCsi takes them and the final byte returned; anything
// else returns null, having changed nothing the machine does not clear on its way in.
inline const uint8_t* EscapeSequenceParser::takeRoomyFields(const uint8_t* p) {
  int* const values = _pars.data();
  uint8_t* const separators = _parsTxt.data();
  // Each field takes at least its separator, so no more than kMaxParameters - 1 of them end
  // before this, and the reads of the last field stay within kRoomyCsi bytes.
  const uint8_t* const lastField = p + kMaxParameters - 1;
  size_t count = 0;
  for (;;) {
    int value = 0;
    unsigned digit = p[0] - unsigned('0');
    if (digit <= 9) {
      value = static_cast<int>(digit);
      digit = p[1] - unsigned('0');
      if (digit <= 9) {
        value = value * 10 + static_cast<int>(digit);
        digit = p[2] - unsigned('0');
        if (digit <= 9) {
          value = value * 10 + static_cast<int>(digit);
          digit = p[3] - unsigned('0');
          if (digit <= 9) {
            // Five digits may pass the largest value: the general loop saturates them.
            if (p[4] - unsigned('0') <= 9) return nullptr;
            value = value * 10 + static_cast<int>(digit);
            ++p;
          }
          ++p;
        }
        ++p;
      }
      ++p;
    }
    values[count] = value;
    if (*p != ';') break;
    separators[count] = ';';
    ++count;
    if (++p > lastField) return nullptr;
  }
  if (*p < 0x40 || *p > 0x7E) return nullptr;
  _parsCount = count + 1;
  return p;
}

}  // namespace vantrelle
