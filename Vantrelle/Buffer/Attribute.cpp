#include "Vantrelle/Buffer/Attribute.h"

namespace vantrelle {

namespace {

void appendColor(std::string& out, Attribute::Color color, bool foreground) {
  using Kind = Attribute::Color::Kind;
  switch (color.kind()) {
    case Kind::ansi256: {
      int c = color.code();
      if (c < 8) {
        out += foreground ? ";3" : ";4";
        out += std::to_string(c);
      } else if (c < 16) {
        out += foreground ? ";9" : ";10";
        out += std::to_string(c - 8);
      } else {
        out += foreground ? ";38;5;" : ";48;5;";
        out += std::to_string(c);
      }
      break;
    }
    case Kind::trueColor:
      out += foreground ? ";38;2;" : ";48;2;";
      out += std::to_string(color.red()) + ";" + std::to_string(color.green()) + ";" + std::to_string(color.blue());
      break;
    case Kind::defaultColor:
    case Kind::defaultInvertedColor:
      break;
  }
}

}  // namespace

std::string Attribute::toSgr() const {
  std::string out = "0";
  // Only the styles that xterm reports back; dim, italic and crossed-out are not part of it.
  if (style.contains(CharacterStyle::bold)) out += ";1";
  if (style.contains(CharacterStyle::underline)) out += ";4";
  if (style.contains(CharacterStyle::blink)) out += ";5";
  if (style.contains(CharacterStyle::inverse)) out += ";7";
  if (style.contains(CharacterStyle::invisible)) out += ";8";
  appendColor(out, fg, true);
  appendColor(out, bg, false);
  out += "m";
  return out;
}

}  // namespace vantrelle
