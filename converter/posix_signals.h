#pragma once

// What the POSIX platform files share about signals.

namespace platform {

/// Delivers `signalNumber` to the calling thread with its default action,
/// unblocked: the process ends (or stops) as if no handler had been set. Safe
/// in a signal handler. Returns only where the default action lets it go on.
void raiseAsByDefault(int signalNumber);

}  // namespace platform
