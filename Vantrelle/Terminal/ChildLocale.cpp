#include "Vantrelle/Terminal/ChildLocale.h"

#include <locale.h>

namespace vantrelle {

bool localeIsAvailable(const char* name) {
  locale_t loaded = newlocale(LC_ALL_MASK, name, locale_t(0));
  if (loaded == locale_t(0)) return false;
  freelocale(loaded);
  return true;
}

std::string chooseChildLocale(const std::function<bool(const char*)>& isAvailable) {
  return isAvailable("en_US.UTF-8") ? "en_US.UTF-8" : "C.UTF-8";
}

const std::string& childLocale() {
  // Generated locales do not come and go while the application runs; look once.
  static const std::string chosen = chooseChildLocale(localeIsAvailable);
  return chosen;
}

}  // namespace vantrelle
