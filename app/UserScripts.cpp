#include "app/UserScripts.h"

#include <memory>

namespace zorvel::UserScripts {

namespace {

// The manager keeps its own reference to each script it is given.
struct UserScriptUnref {
  void operator()(WebKitUserScript* script) const {
    if (script) webkit_user_script_unref(script);
  }
};
using UserScriptPtr = std::unique_ptr<WebKitUserScript, UserScriptUnref>;

}  // namespace

void add(WebKitUserContentManager* manager, const char* source, WebKitUserContentInjectedFrames frames,
         const char* world) {
  const auto time = WEBKIT_USER_SCRIPT_INJECT_AT_DOCUMENT_START;
  UserScriptPtr script(world ? webkit_user_script_new_for_world(source, frames, time, world, nullptr, nullptr)
                             : webkit_user_script_new(source, frames, time, nullptr, nullptr));
  webkit_user_content_manager_add_script(manager, script.get());
}

}  // namespace zorvel::UserScripts
