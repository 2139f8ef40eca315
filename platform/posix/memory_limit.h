#pragma once

#include "platform/kernel32.h"

// A memory cgroup (a container's, a systemd unit's) charges pages as they
// are touched, and a process that passes its limit is killed by the kernel,
// not refused: a block would be mapped, and the process killed while the
// read fills it. So a large block is first held against the room that the
// process's memory cgroup, and each one above it, still has: its limit less
// what it is charged for, less the file cache in that charge, which the
// kernel gives back before it kills. What others in the same cgroup take at
// the same moment is not foreseen.

// The bytes the process may still take under every memory cgroup limit it
// can see (cgroup v2, and v1's memory trees), or NoMemoryLimit. Root is
// where the system's files are read from: "" for the system itself, a
// directory that holds proc/self/ and the trees for a test.
static const unsigned long long NoMemoryLimit = ~0ull;
unsigned long long MemoryRoom(const char *Root);

// Whether Bytes more fit under those limits.
static inline bool FitsUnderMemoryLimits(unsigned long long Bytes) {
  return Bytes <= MemoryRoom("");
}
