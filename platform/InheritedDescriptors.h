#pragma once

namespace platform {

// Closes every descriptor above standard error except `keep` (-1 keeps none), so a program we
// start holds only its standard streams and what it was meant to have, not whatever we or a
// library of ours opened. For a forked child before exec: it makes only async-signal-safe calls.
void closeInheritedDescriptors(int keep = -1);

}  // namespace platform
