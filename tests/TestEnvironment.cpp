// Every test program runs in the same locale whatever the machine or the caller's environment
// holds: a UTF-8 locale that every current C library has, with the toolkit's texts untranslated.
// The programs a test starts inherit it. This runs before main, before any toolkit reads it.
#include <stdlib.h>

namespace {

const bool localeSet = [] {
  ::setenv("LC_ALL", "C.UTF-8", 1);
  ::setenv("LANG", "C.UTF-8", 1);
  ::unsetenv("LANGUAGE");
  return true;
}();

}  // namespace
