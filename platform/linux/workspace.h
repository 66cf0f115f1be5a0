// Activation of applications, as the main loop serves it.
#pragma once

namespace linux_desktop {

// Lets the window system handle what has arrived (`readable`: its
// descriptors were) and calls the activation trigger once for each batch of
// events after which another application is active.
void serviceActivations(bool readable);

}  // namespace linux_desktop
