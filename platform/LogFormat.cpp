#include "platform/LogFormat.h"

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <cwchar>
#include <string_view>
#include <type_traits>

namespace platform {

namespace {

struct Conversion {
  std::string format;       // the conversion without its marker, e.g. "%-8.3lu"
  std::string_view length;  // "", "hh", "h", "l", "ll", "j", "z", "t", "L"
  char type = 0;
  int starCount = 0;
  bool isPrivate = false;
  bool isBool = false;
};

// Reads "{...}" after a '%'; the marker may list several words ("public, bool").
void readMarker(const char*& p, Conversion& conversion) {
  if (*p != '{') return;
  const char* end = std::strchr(p, '}');
  if (!end) return;
  const std::string_view marker(p + 1, static_cast<size_t>(end - p - 1));
  conversion.isPrivate = marker.find("private") != std::string_view::npos;
  conversion.isBool = marker.find("bool") != std::string_view::npos;
  p = end + 1;
}

// Parses one conversion after its '%'. Returns false when the text is not a conversion we know.
bool readConversion(const char*& p, Conversion& conversion) {
  readMarker(p, conversion);
  const char* formatStart = p;
  while (*p && std::strchr("-+ #0'", *p)) ++p;
  auto readNumber = [&] {
    if (*p == '*') {
      ++conversion.starCount;
      ++p;
      return;
    }
    while (*p >= '0' && *p <= '9') ++p;
  };
  readNumber();
  if (*p == '.') {
    ++p;
    readNumber();
  }
  static constexpr std::string_view lengths[] = {"hh", "ll", "h", "l", "j", "z", "t", "L"};
  const std::string_view rest(p);
  for (const std::string_view length : lengths) {
    if (rest.starts_with(length)) {
      conversion.length = length;
      p += length.size();
      break;
    }
  }
  if (!*p || !std::strchr("diouxXeEfFgGaAcspn", *p)) return false;
  conversion.type = *p++;
  // The conversion as printf should see it: '%' and the text after the marker.
  const auto size = static_cast<size_t>(p - formatStart);
  conversion.format.assign(size + 1, '%');
  std::memcpy(conversion.format.data() + 1, formatStart, size);
  return true;
}

template <typename T>
std::string formatOne(const Conversion& conversion, const int* stars, T value) {
  char buffer[512];
  int size = 0;
  switch (conversion.starCount) {
    case 0:
      size = std::snprintf(buffer, sizeof buffer, conversion.format.c_str(), value);
      break;
    case 1:
      size = std::snprintf(buffer, sizeof buffer, conversion.format.c_str(), stars[0], value);
      break;
    default:
      size = std::snprintf(buffer, sizeof buffer, conversion.format.c_str(), stars[0], stars[1], value);
      break;
  }
  if (size < 0) return {};
  if (static_cast<size_t>(size) < sizeof buffer) return std::string(buffer, static_cast<size_t>(size));
  std::string text(static_cast<size_t>(size) + 1, '\0');
  switch (conversion.starCount) {
    case 0:
      std::snprintf(text.data(), text.size(), conversion.format.c_str(), value);
      break;
    case 1:
      std::snprintf(text.data(), text.size(), conversion.format.c_str(), stars[0], value);
      break;
    default:
      std::snprintf(text.data(), text.size(), conversion.format.c_str(), stars[0], stars[1], value);
      break;
  }
  text.resize(static_cast<size_t>(size));
  return text;
}

template <typename T>
std::string render(const Conversion& conversion, const int* stars, T value) {
  if (conversion.isPrivate) return "<private>";
  if constexpr (std::is_integral_v<T>) {
    if (conversion.isBool) return value ? "true" : "false";
  }
  return formatOne(conversion, stars, value);
}

std::string signedValue(const Conversion& c, const int* stars, va_list& arguments) {
  const std::string_view l = c.length;
  if (l == "l") return render(c, stars, va_arg(arguments, long));
  if (l == "ll") return render(c, stars, va_arg(arguments, long long));
  if (l == "j") return render(c, stars, va_arg(arguments, intmax_t));
  if (l == "z") return render(c, stars, va_arg(arguments, ssize_t));
  if (l == "t") return render(c, stars, va_arg(arguments, ptrdiff_t));
  return render(c, stars, va_arg(arguments, int));
}

std::string unsignedValue(const Conversion& c, const int* stars, va_list& arguments) {
  const std::string_view l = c.length;
  if (l == "l") return render(c, stars, va_arg(arguments, unsigned long));
  if (l == "ll") return render(c, stars, va_arg(arguments, unsigned long long));
  if (l == "j") return render(c, stars, va_arg(arguments, uintmax_t));
  if (l == "z") return render(c, stars, va_arg(arguments, size_t));
  if (l == "t") return render(c, stars, va_arg(arguments, ptrdiff_t));
  return render(c, stars, va_arg(arguments, unsigned));
}

std::string stringValue(const Conversion& c, const int* stars, va_list& arguments) {
  if (c.length == "l") {
    const wchar_t* value = va_arg(arguments, const wchar_t*);
    return render(c, stars, value ? value : L"(null)");
  }
  const char* value = va_arg(arguments, const char*);
  return render(c, stars, value ? value : "(null)");
}

std::string value(const Conversion& c, const int* stars, va_list& arguments) {
  switch (c.type) {
    case 'd':
    case 'i':
      return signedValue(c, stars, arguments);
    case 'o':
    case 'u':
    case 'x':
    case 'X':
      return unsignedValue(c, stars, arguments);
    case 'c':
      if (c.length == "l") return render(c, stars, va_arg(arguments, wint_t));
      return render(c, stars, va_arg(arguments, int));
    case 's':
      return stringValue(c, stars, arguments);
    case 'p':
      return render(c, stars, va_arg(arguments, void*));
    case 'n':
      va_arg(arguments, void*);
      return {};
    default:
      if (c.length == "L") return render(c, stars, va_arg(arguments, long double));
      return render(c, stars, va_arg(arguments, double));
  }
}

}  // namespace

std::string formatLogMessage(const char* format, va_list arguments) {
  if (!format) return {};
  va_list ap;
  va_copy(ap, arguments);
  std::string text;
  const char* p = format;
  while (*p) {
    if (*p != '%') {
      text += *p++;
      continue;
    }
    const char* start = p++;
    if (*p == '%') {
      text += '%';
      ++p;
      continue;
    }
    Conversion conversion;
    if (!readConversion(p, conversion)) {
      // Not a conversion we can read safely: show it as written and stop reading arguments.
      text.append(start, p);
      text.append(p);
      break;
    }
    int stars[2] = {0, 0};
    for (int i = 0; i < conversion.starCount && i < 2; ++i) stars[i] = va_arg(ap, int);
    text += value(conversion, stars, ap);
  }
  va_end(ap);
  return text;
}

}  // namespace platform
