#pragma once

#include "platform/kernel32.h"

// A memory cgroup (a container's, a systemd unit's) charges pages as they
// are touched, and a process that passes its limit is killed by the kernel,
// not refused: a block would be mapped, and the process killed while the
// read fills it. So a large block is first held against the room that the
// process's memory cgroup, and each one above it, still has: its limit less
// what it is charged for, less the file cache in that charge, which the
// kernel gives back before it kills. Best effort: a cgroup file that can't
// be read counts as no limit, and what others in the same cgroup take at
// the same moment is not foreseen.
//
// Returns whether Bytes more fit under the limit of every memory cgroup the
// process is in (on Linux; elsewhere there are none to read).
bool FitsUnderMemoryLimits(unsigned long long Bytes);
