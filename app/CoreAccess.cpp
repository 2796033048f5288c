#include "app/CoreAccess.h"

#include "app/HTTPFields.h"
#include "platform/URLSession.h"

namespace zorvel {

void CoreAccess::authorize(platform::URLRequest& request) const {
  HTTPFields::set(request.headers, "Authorization", "Bearer " + desktopToken);
  // Without a core to name, no process is good enough.
  request.serverProcess = core ? core : [] { return pid_t(0); };
}

}  // namespace zorvel
