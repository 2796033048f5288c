// Feeds the strings a program sends the terminal as commands: operating system commands (titles,
// colours, hyperlinks with huge or odd targets, clipboard writes and reads of any size,
// notifications, progress, directories), device control strings (setting and capability
// requests, and ones the terminal does not know) and application program commands, ended every
// way a program may end them, between requests that make the terminal answer. Nothing may crash;
// every answer must be one well-formed reply that carries no control character from the program,
// and what the terminal keeps (title stacks, hyperlink codes) must stay bounded.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <iterator>
#include <optional>
#include <span>
#include <string>

#include "Vantrelle/Terminal/Terminal.h"
#include "fuzz/FuzzReader.h"

namespace {

using fuzzing::Reader;

using vantrelle::Terminal;

[[noreturn]] void fail(const char* what, std::span<const uint8_t> bytes = {}) {
  fprintf(stderr, "control strings: %s:", what);
  for (size_t i = 0; i < bytes.size() && i < 64; ++i) fprintf(stderr, " %02x", bytes[i]);
  fprintf(stderr, "\n");
  std::abort();
}

bool isC1(uint8_t b) { return b >= 0x80 && b <= 0x9F; }

// One reply: CSI or SS3 with parameters and a final byte, or OSC, DCS or APC with a body and ST
// (or BEL), in 7-bit or 8-bit form. A body may hold printable bytes only.
void checkReply(std::span<const uint8_t> reply) {
  if (reply.empty()) return;
  size_t at = 0;
  uint8_t kind = 0;
  if (reply[0] == 0x1B && reply.size() >= 2) {
    kind = reply[1] + 0x40;  // ESC [ is CSI, ESC ] is OSC, ESC P is DCS
    at = 2;
  } else if (isC1(reply[0])) {
    kind = reply[0];
    at = 1;
  } else {
    fail("a reply that is no control sequence", reply);
  }
  if (kind == 0x9B || kind == 0x8F) {
    if (at >= reply.size()) fail("a sequence without its final byte", reply);
    for (size_t i = at; i + 1 < reply.size(); ++i)
      if (reply[i] < 0x20 || reply[i] > 0x3F) fail("a stray byte inside a sequence", reply);
    if (reply.back() < 0x40 || reply.back() > 0x7E) fail("a sequence with no final byte", reply);
    return;
  }
  if (kind != 0x9D && kind != 0x90 && kind != 0x9F) fail("a reply of an unknown kind", reply);
  size_t end = reply.size();
  if (reply.back() == 0x07 || reply.back() == 0x9C)
    end -= 1;
  else if (end >= 2 && reply[end - 2] == 0x1B && reply[end - 1] == '\\')
    end -= 2;
  else
    fail("a string reply without its terminator", reply);
  for (size_t i = at; i < end; ++i)
    if (reply[i] < 0x20 || reply[i] == 0x7F || isC1(reply[i])) fail("a control byte inside a string reply", reply);
}

class Host : public vantrelle::TerminalDelegate {
 public:
  size_t sent = 0;
  size_t clipboardSize = 2;
  size_t clipboardRepliesBound = 0;  // what replies may carry of the clipboard: base64 and framing
  void send(Terminal&, std::span<const uint8_t> data) override {
    sent += data.size();
    checkReply(data);
  }
  std::optional<vantrelle::Bytes> clipboardRead(Terminal&) override {
    if (clipboardSize == 0) return std::nullopt;
    clipboardRepliesBound += clipboardSize * 4 / 3 + 64;
    vantrelle::Bytes content(clipboardSize);
    for (size_t i = 0; i < content.size(); ++i) content[i] = uint8_t(i * 37);
    return content;
  }
  std::optional<vantrelle::CellSize> cellSizeInPixels(Terminal&) override { return vantrelle::CellSize{9, 17}; }
};

// A body from the input, now and then repeated into something huge.
std::string body(Reader& in) {
  const uint8_t shape = in.byte();
  std::string out = in.take(shape & 31);
  if (shape & 0x80 && !out.empty()) {
    const size_t copies = size_t(1) << (shape >> 5 & 3) * 3;  // 1, 8, 64 or 512
    std::string big;
    big.reserve(out.size() * copies);
    for (size_t i = 0; i < copies; ++i) big += out;
    out = std::move(big);
  }
  return out;
}

// How a string ends: ST in either form, BEL, cancelled, or cut off by another escape.
const char* terminator(uint8_t choice) {
  static constexpr const char* kEnds[] = {"\x1b\\", "\x07", "\x9c", "\x18", "\x1a", "\x1b[m", "\x1b\\", "\x07"};
  return kEnds[choice & 7];
}

std::string osc(Reader& in) {
  static constexpr int kNumbers[] = {0,  1,  2, 4, 6,   7,   8,   9,   10,  11,  12,   52,
                                     52, 52, 8, 8, 104, 110, 111, 112, 133, 777, 1337, 5522};
  const uint8_t choice = in.byte();
  std::string number = std::to_string(kNumbers[choice % std::size(kNumbers)]);
  if (choice >= 0xF0) number = std::to_string(in.byte() * 1000003LL);  // past every known number
  // Payloads of the shapes each command takes, with a body from the input in the middle.
  static constexpr const char* kPrefixes[] = {
      "", ";", "c;", "p;?", "c;?", "1;rgb:", "0;?", "id=x;", ";https://", "4;1;", "notify;", "File=inline=1:",
      "", "?", "s;", ""};
  const uint8_t form = in.byte();
  return "\x1b]" + number + ";" + kPrefixes[form & 15] + body(in) + terminator(form >> 4);
}

std::string dcs(Reader& in) {
  static constexpr const char* kIntroducers[] = {"$q", "+q", "q", "$$q", ">q", "1$q", "x", "$p", "0;1;0q", "$t"};
  static constexpr const char* kRequests[] = {"m", "r", "s", " q", "\"q", "\"p", "", "544e", "636f6c6f7273"};
  const uint8_t form = in.byte();
  std::string out = std::string("\x1bP") + kIntroducers[form % std::size(kIntroducers)];
  if (form & 0x80) out += kRequests[in.byte() % std::size(kRequests)];
  return out + body(in) + terminator(in.byte());
}

std::string apc(Reader& in) {
  const uint8_t form = in.byte();
  static constexpr const char* kStarts[] = {"G", "Ga=q,i=1;", "Ga=T,f=24,s=1,v=1;", "X", "", "Gq=2;"};
  return std::string("\x1b_") + kStarts[form % std::size(kStarts)] + body(in) + terminator(form >> 4);
}

// Requests that make the terminal answer, and the title stack and control-width switches.
std::string request(Reader& in) {
  static constexpr const char* kRequests[] = {
      "\x1b[c",         "\x1b[>c",         "\x1b[=c",         "\x1b[5n",  "\x1b[6n",     "\x1b[?6n",    "\x1b[?2026$p",
      "\x1b[4$p",       "\x1b[14t",        "\x1b[16t",        "\x1b[18t", "\x1b[20t",    "\x1b[21t",    "\x1b[22;0t",
      "\x1b[23;0t",     "\x1b[22;1t",      "\x1b[23;2t",      "\x1b[?u",  "\x1b[>1u",    "\x1b[<u",     "\x1b[62;0\"p",
      "\x1b[62;1\"p",   "\x1b[61\"p",      "\x1b F",          "\x1b G",   "\x1b[?1049h", "\x1b[?1049l", "\x1b[?5$p",
      "\x1b]4;1;?\x07", "\x1b]10;?\x1b\\", "\x1b]52;c;?\x07", "\x1b[>0q",
  };
  return kRequests[in.byte() % std::size(kRequests)];
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  Reader in(data, size);
  Host host;
  vantrelle::TerminalOptions options;
  options.cols = 20;
  options.rows = 5;
  options.scrollback = 10;
  Terminal terminal(&host, options);
  size_t fed = 0;
  while (!in.done()) {
    const uint8_t op = in.byte();
    std::string chunk;
    switch (op & 7) {
      case 0:
      case 1:
        chunk = osc(in);
        break;
      case 2:
        chunk = dcs(in);
        break;
      case 3:
        chunk = apc(in);
        break;
      case 4:
      case 5:
        chunk = request(in);
        break;
      case 6:
        chunk = in.take(1 + (op >> 3));  // text, or anything at all
        break;
      default:
        host.clipboardSize = size_t(in.byte()) << (op >> 3 & 15) % 13;  // up to 1 MB
        continue;
    }
    fed += chunk.size();
    // Fed whole, and now and then a byte at a time to cut every string in every place.
    if (op & 0x80 && chunk.size() < 4096) {
      for (char c : chunk) terminal.feed(std::string_view(&c, 1));
    } else {
      terminal.feed(chunk);
    }
    // A clipboard read may answer with as much as the host holds, when the request ends (which
    // may be chunks later, once the clipboard has grown); nothing else may answer more than a few
    // hundred bytes for each request.
    if (host.sent > host.clipboardRepliesBound + 512 * (fed + 1)) fail("the replies outgrow the requests");
  }
  if (terminal.titles.windowStack.size() > 10 || terminal.titles.iconStack.size() > 10) fail("a title stack grew");
  return 0;
}
