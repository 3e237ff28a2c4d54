// The line settings of a POSIX terminal device as the port seam sees them. Kept in their
// own file because the kernel's termios2 (any baud rate) cannot share a translation unit
// with the C library's termios.
#pragma once

#include "transport/port_system.h"

// Puts the line into raw mode with the given speed, frame and flow control (CLOCAL and
// CREAD always set, so a missing carrier never blocks). Returns 0 or an errno value.
int ApplyLineState(int fd, const CPortState& state);
// Reads back speed and frame (the flags are left as they are).
int ReadLineState(int fd, CPortState& state);
// Waits until the output queue has gone out on the line, at most timeoutMs (0: no limit).
// Returns 0 when drained, ETIMEDOUT, or an errno value.
int DrainOutput(int fd, unsigned timeoutMs);
