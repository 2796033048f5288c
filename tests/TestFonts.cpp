// Tests that draw or measure text see only the fonts of the build's own font configuration
// (tests/fonts.conf.in), not the fonts the machine happens to have. It is made the current
// configuration of this process before any toolkit looks for fonts. It is not handed on through
// FONTCONFIG_FILE: the web processes a test starts run in WebKit's sandbox, which cannot read the
// build folder, and would be left with no fonts at all.
#include <fontconfig/fontconfig.h>

#include <cstdio>

namespace {

const bool fontsLoaded = [] {
  FcConfig* config = FcConfigCreate();
  const auto* file = reinterpret_cast<const FcChar8*>(ZORVEL_TEST_FONTCONFIG);
  bool loaded = FcConfigParseAndLoad(config, file, FcTrue) && FcConfigBuildFonts(config);
  if (loaded) loaded = FcConfigSetCurrent(config);
  if (!loaded)
    std::fprintf(stderr, "Cannot load %s; the tests draw with the machine's fonts\n", ZORVEL_TEST_FONTCONFIG);
  FcConfigDestroy(config);  // the current configuration holds a reference of its own
  return loaded;
}();

}  // namespace
