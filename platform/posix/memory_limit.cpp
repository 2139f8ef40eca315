// How much memory the process's memory cgroups still have room for, from
// the files Linux keeps for them.
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

#include "platform/posix/memory_limit.h"

static const unsigned long long NoLimit = ~0ull;
// cgroup v2 writes no limit as "max", v1 as the largest count of pages it
// keeps: from 2^62 bytes on, no limit either way.
static const unsigned long long Unlimited = 1ull << 62;

// Reads the file Path into Text, up to Size - 1 bytes, and ends it; false
// when the file can't be read.
static bool ReadSmallFile(const char *Path, char *Text, SIZE_T Size) {
  int Fd = open(Path, O_RDONLY | O_NOCTTY);
  if (Fd < 0)
    return false;
  ssize_t Count = read(Fd, Text, Size - 1);
  close(Fd);
  Text[Count > 0 ? Count : 0] = 0;
  return Count > 0;
}

// The number at the start of Text; NoLimit for anything else ("max").
static unsigned long long Number(const char *Text) {
  return *Text >= '0' && *Text <= '9' ? strtoull(Text, 0, 10) : NoLimit;
}

// The value of the line "Key value" in memory.stat's Text, or 0.
static unsigned long long StatValue(const char *Text, const char *Key) {
  size_t Length = strlen(Key);
  for (const char *Line = Text;; Line++) {
    if (strncmp(Line, Key, Length) == 0 && Line[Length] == ' ')
      return Number(Line + Length + 1);
    if ((Line = strchr(Line, '\n')) == 0)
      return 0;
  }
}

// One kind of memory cgroup: where its tree is, and what it names its files.
struct CGROUP_FILES {
  const char *Tree, *Limit, *Usage, *ActiveFile, *InactiveFile;
};
static const CGROUP_FILES Version2 = {"/sys/fs/cgroup", "memory.max", "memory.current",
                                      "active_file", "inactive_file"};
static const CGROUP_FILES Version1 = {"/sys/fs/cgroup/memory", "memory.limit_in_bytes",
                                      "memory.usage_in_bytes", "total_active_file",
                                      "total_inactive_file"};

// Appends Count bytes of From at At, short of End; false when they don't fit.
static bool Append(char *&At, const char *End, const char *From, size_t Count) {
  if ((size_t)(End - At) <= Count)
    return false;
  memcpy(At, From, Count);
  At += Count;
  *At = 0;
  return true;
}

// Reads the file Name of the cgroup Group (its path in the tree, Length
// bytes) into Text.
static bool ReadGroupFile(const CGROUP_FILES &Files, const char *Group, SIZE_T Length,
                          const char *Name, char (&Text)[8192]) {
  char Path[512], *At = Path;
  const char *End = Path + sizeof Path;
  return Append(At, End, Files.Tree, strlen(Files.Tree)) && Append(At, End, Group, Length) &&
         Append(At, End, "/", 1) && Append(At, End, Name, strlen(Name)) &&
         ReadSmallFile(Path, Text, sizeof Text);
}

// The least room left under Group and each cgroup above it, in the tree that
// Files describes. A cgroup's charge counts all below it.
static unsigned long long RoomUnder(const CGROUP_FILES &Files, const char *Group, SIZE_T Length) {
  unsigned long long Least = NoLimit;
  char Text[8192];
  for (;;) {
    unsigned long long Limit =
        ReadGroupFile(Files, Group, Length, Files.Limit, Text) ? Number(Text) : NoLimit;
    if (Limit < Unlimited) {
      unsigned long long Used = 0, Cache = 0;
      if (ReadGroupFile(Files, Group, Length, Files.Usage, Text) && Number(Text) != NoLimit)
        Used = Number(Text);
      if (ReadGroupFile(Files, Group, Length, "memory.stat", Text))
        Cache = StatValue(Text, Files.ActiveFile) + StatValue(Text, Files.InactiveFile);
      Used = Cache < Used ? Used - Cache : 0;
      unsigned long long Room = Used < Limit ? Limit - Used : 0;
      if (Room < Least)
        Least = Room;
    }
    // Up to the cgroup above; the root is the last.
    if (Length == 0)
      return Least;
    while (Length > 0 && Group[Length - 1] != '/')
      Length--;
    if (Length > 0)
      Length--;
  }
}

// Where Mark comes first from From on, short of End; 0 when it doesn't.
static const char *Find(const char *From, const char *End, char Mark) {
  return (const char *)memchr(From, Mark, (size_t)(End - From));
}

// Whether the comma-separated list from From to End names "memory".
static bool NamesMemory(const char *From, const char *End) {
  while (From < End) {
    const char *Comma = Find(From, End, ',');
    const char *Stop = Comma ? Comma : End;
    if (Stop - From == 6 && memcmp(From, "memory", 6) == 0)
      return true;
    From = Stop + 1;
  }
  return false;
}

// Whether Bytes more fit under every memory cgroup limit the process is
// under. /proc/self/cgroup has a line "ID:CONTROLLERS:PATH" for each tree the
// process is in: cgroup v2's is "0::PATH", a v1 tree's names its controllers.
bool FitsUnderMemoryLimits(unsigned long long Bytes) {
  char Text[4096];
  if (!ReadSmallFile("/proc/self/cgroup", Text, sizeof Text))
    return true;
  unsigned long long Least = NoLimit;
  for (const char *Line = Text; *Line;) {
    const char *End = Line + strlen(Line);
    if (const char *Newline = Find(Line, End, '\n'))
      End = Newline;
    const char *Controllers = Find(Line, End, ':');
    const char *Group = Controllers ? Find(Controllers + 1, End, ':') : 0;
    if (Group) {
      const CGROUP_FILES *Files = 0;
      if (Controllers == Line + 1 && *Line == '0' && Group == Controllers + 1)
        Files = &Version2;
      else if (NamesMemory(Controllers + 1, Group))
        Files = &Version1;
      // The root's path is "/": its files are the tree's own.
      SIZE_T Length = (SIZE_T)(End - Group - 1);
      if (Length == 1)
        Length = 0;
      unsigned long long Room = Files ? RoomUnder(*Files, Group + 1, Length) : NoLimit;
      if (Room < Least)
        Least = Room;
    }
    Line = *End ? End + 1 : End;
  }
  return Bytes <= Least;
}
