#pragma once

namespace platform {

// Closes every descriptor above standard error except `keep` and `alsoKeep` (-1 keeps none), so a
// program we start holds only its standard streams and what it was meant to have, not whatever we
// or a library of ours opened. For a forked child before exec: it makes only async-signal-safe calls.
void closeInheritedDescriptors(int keep = -1, int alsoKeep = -1);

// Marks every descriptor above standard error close-on-exec, so what whoever started us left open
// reaches no program we start, including those a library starts without closing descriptors (the
// web engine's helpers take every descriptor not so marked). For the start of main, before any
// thread or child exists: a descriptor opened meanwhile by another thread could be marked too.
void keepInheritedDescriptorsFromChildren();

}  // namespace platform
