// Activation of applications, as the main loop serves it.
#pragma once

namespace windows_desktop {

// Calls the activation trigger when the foreground window has changed since
// the last call and now belongs to another process than at the last
// activation posted. Called by the main loop once the messages that were
// waiting have been dispatched, so that a burst of changes is judged where
// it ended.
void serviceActivations();

}  // namespace windows_desktop
