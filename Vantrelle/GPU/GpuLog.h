#pragma once
// The renderer's log categories, under the engine's own log subsystem.
#include "platform/Log.h"

namespace vantrelle {

const platform::Logger& atlasLog();
const platform::Logger& rendererLog();
const platform::Logger& profileLog();

// Whether VANTRELLE_PROFILE is "1"; read once.
bool profileEnabled();

// A named interval of the frame written to the profile log as begin and end records, each with
// an identifier of its own; costs one flag test when profiling is off.
class ProfileInterval {
 public:
  explicit ProfileInterval(const char* name);
  ~ProfileInterval() { end(); }
  ProfileInterval(const ProfileInterval&) = delete;
  ProfileInterval& operator=(const ProfileInterval&) = delete;
  void end();

 private:
  const char* name;
  unsigned long id = 0;
  bool open = false;
};

}  // namespace vantrelle
