// Ends the connector at once with status 0, as its refusals and an accepted update do.
#pragma once

#include <cstdio>
#include <cstdlib>

/// Called from inside a message box's event loop, possibly with the network thread still up: _Exit skips
/// static destructors and exit handlers that could trip over either, so the status is reliably 0.
[[noreturn]] inline void exitProcessNow()
{
    std::fflush(nullptr);
    std::_Exit(EXIT_SUCCESS);
}
