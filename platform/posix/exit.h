// The end of the process, as a desktop sees it.
#pragma once

namespace posix {

// `hook` runs on the thread that ends the process, just before it ends; it
// must finish within a few hundred milliseconds. From the moment it starts,
// no further record is written (one being written is finished).
void setExitHook(void (*hook)());

// Whether the process is ending.
bool exiting();

}  // namespace posix
