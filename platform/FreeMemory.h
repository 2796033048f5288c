#pragma once
// Memory the process freed, handed back to the system. The C library's allocator returns only the
// free memory at the end of its heap by itself; what lies below a block still in use stays the
// process's, so a heap that once grew large (a long scrollback widened and narrowed again) keeps
// its size after nearly all of it was freed.
namespace platform {

// Hands the pages of the heap's free blocks back to the system; they are supplied again, zeroed,
// when next used. It walks every free block, some milliseconds for a few hundred megabytes freed,
// so it is for once a burst of work is over. Safe from any thread; true when anything went back.
bool releaseFreeMemory();

}  // namespace platform
