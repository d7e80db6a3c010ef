// SPDX-License-Identifier: GPL-3.0-or-later
#pragma once
// Ctrl-C, SIGTERM and SIGHUP end the event loop normally, so the program saves before it exits.
#include <functional>

namespace platform {

// Installs the handlers; `quit` runs on the main thread, inside the event loop.
void quitOnTerminationSignals(std::function<void()> quit);

} // namespace platform
