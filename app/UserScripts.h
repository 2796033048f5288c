#pragma once

#include <webkit/webkit.h>

namespace zorvel::UserScripts {

// Adds a script that runs at document start, before any script of the page, in the given frames and
// in the named script world (the page's own when none).
void add(WebKitUserContentManager* manager, const char* source, WebKitUserContentInjectedFrames frames,
         const char* world = nullptr);

}  // namespace zorvel::UserScripts
