// Activation of applications, as the main loop serves it.
#pragma once

namespace x11 {

// Drains the display's events (reading the connection when `readSocket`) and
// calls the activation trigger once for each burst of events after which
// another application is active.
void serviceActivations(bool readSocket);

}  // namespace x11
