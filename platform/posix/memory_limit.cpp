// How much memory the process's memory cgroups still have room for, from
// the files Linux keeps for them: /proc/self/cgroup names the process's
// cgroup in each tree, /proc/self/mountinfo where each tree is mounted, and
// each cgroup's directory its limit, its charge and its file cache.
//
// Every file is read whole into a mapping of its own, however long, and
// every path is built in one, so that no length the kernel allows is cut
// short, and the stack holds no more than a few words.
//
// Which way each doubt errs:
// - No /proc/self/cgroup, or no tree of it mounted where the process can
//   see it: nothing can be learnt of any limit, and none is counted. Every
//   large file would otherwise fail in a bare chroot or a sandbox without
//   /sys, where the kernel's own limit still holds.
// - A tree the process is in, mounted and seen, whose files can't be read
//   or make no sense (and that isn't a limit file missing, which is how a
//   cgroup without a limit of its own looks): no room at all. A limit may
//   be there, and the block would be a guess.
// - A charge that includes no file cache the process can read: none is
//   taken off. That only makes the room smaller.
// - The process's own cgroup not visible in a mount (a cgroup namespace
//   whose root is below the mount's, seen without a mount of its own): it
//   is looked for as the directory below the mount that lists the process;
//   failing that, the nearest cgroup above it that the mount shows counts.
#include "platform/posix/memory_limit.h"

#ifdef __linux__

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/syscall.h>
#include <unistd.h>

// cgroup v2 writes no limit as "max", v1 as the largest count of pages it
// keeps: from 2^62 bytes on, no limit either way.
static const unsigned long long Unlimited = 1ull << 62;
// What a cgroup that can't be read leaves room for.
static const unsigned long long NoRoom = 0;

// A run of bytes in a mapping of its own, ended by a zero byte that Length
// doesn't count.
struct TEXT {
  char *Bytes;
  size_t Length, Mapped;
};

static bool Map(TEXT &Text, size_t Bytes) {
  Bytes = (Bytes + 4095) & ~(size_t)4095;
  void *At = Text.Bytes
                 ? mremap(Text.Bytes, Text.Mapped, Bytes, MREMAP_MAYMOVE)
                 : mmap(0, Bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (At == MAP_FAILED)
    return false;
  Text.Bytes = (char *)At;
  Text.Mapped = Bytes;
  return true;
}

static void Unmap(TEXT &Text) {
  if (Text.Bytes)
    munmap(Text.Bytes, Text.Mapped);
  Text.Bytes = 0;
}

// Reads the file Path into Text, whole. On failure errno says why.
static bool ReadWhole(const char *Path, TEXT &Text) {
  Text = TEXT();
  int Fd = open(Path, O_RDONLY | O_NOCTTY);
  if (Fd < 0)
    return false;
  for (;;) {
    if (Text.Length + 1 >= Text.Mapped && !Map(Text, Text.Mapped ? Text.Mapped * 2 : 4096)) {
      close(Fd);
      Unmap(Text);
      errno = ENOMEM;
      return false;
    }
    ssize_t Count = read(Fd, Text.Bytes + Text.Length, Text.Mapped - 1 - Text.Length);
    if (Count > 0) {
      Text.Length += (size_t)Count;
      continue;
    }
    if (Count < 0 && errno == EINTR)
      continue;
    int Error = errno;
    close(Fd);
    if (Count == 0) {
      Text.Bytes[Text.Length] = 0;
      return true;
    }
    Unmap(Text);
    errno = Error;
    return false;
  }
}

// Path, made of the Count parts given, with Spare bytes more room at its end.
static bool Join(TEXT &Path, const char *const *Parts, const size_t *Lengths, int Count,
                 size_t Spare) {
  Path = TEXT();
  size_t Length = Spare + 1;
  for (int I = 0; I < Count; I++)
    Length += Lengths[I];
  if (!Map(Path, Length))
    return false;
  for (int I = 0; I < Count; I++) {
    memcpy(Path.Bytes + Path.Length, Parts[I], Lengths[I]);
    Path.Length += Lengths[I];
  }
  Path.Bytes[Path.Length] = 0;
  return true;
}

// A number of bytes ("max": Unlimited), and where it stops; false for
// anything else.
static bool Number(const char *Text, unsigned long long &Value, const char **Stop) {
  if (strncmp(Text, "max", 3) == 0) {
    Value = Unlimited;
    *Stop = Text + 3;
    return true;
  }
  if (*Text < '0' || *Text > '9')
    return false;
  errno = 0;
  char *End;
  Value = strtoull(Text, &End, 10);
  *Stop = End;
  return errno == 0;
}

// The value of the line "Key value" in memory.stat's Text, or 0.
static unsigned long long StatValue(const TEXT &Text, const char *Key) {
  size_t Length = strlen(Key);
  for (const char *Line = Text.Bytes; Line; Line = strchr(Line, '\n')) {
    Line += *Line == '\n';
    unsigned long long Value;
    const char *Stop;
    if (strncmp(Line, Key, Length) == 0 && Line[Length] == ' ' &&
        Number(Line + Length + 1, Value, &Stop))
      return Value;
  }
  return 0;
}

// What one kind of memory cgroup names its files.
struct CGROUP_FILES {
  const char *Limit, *Usage, *ActiveFile, *InactiveFile;
};
static const CGROUP_FILES Version2 = {"/memory.max", "/memory.current", "active_file",
                                      "inactive_file"};
static const CGROUP_FILES Version1 = {"/memory.limit_in_bytes", "/memory.usage_in_bytes",
                                      "total_active_file", "total_inactive_file"};
static const size_t LongestName = sizeof "/memory.usage_in_bytes";

// Reads the file Name of the cgroup whose directory is Directory (with room
// for the name at its end) into Text.
static bool ReadGroupFile(TEXT &Directory, const char *Name, TEXT &Text) {
  size_t Length = Directory.Length;
  memcpy(Directory.Bytes + Length, Name, strlen(Name) + 1);
  bool Read = ReadWhole(Directory.Bytes, Text);
  int Error = errno;
  Directory.Bytes[Length] = 0;
  errno = Error;
  return Read;
}

// The number that is the whole of the file Name (a line) of the cgroup in
// Directory. On failure errno says why: EINVAL for a file that makes no
// sense.
static bool GroupNumber(TEXT &Directory, const char *Name, unsigned long long &Value) {
  TEXT Text;
  if (!ReadGroupFile(Directory, Name, Text))
    return false;
  const char *Stop;
  bool Known = Number(Text.Bytes, Value, &Stop) && (*Stop == '\n' || *Stop == 0);
  Unmap(Text);
  if (!Known)
    errno = EINVAL;
  return Known;
}

// The room left under the cgroup in Directory and each one above it, up to
// the mount's root, Top bytes of the path. A cgroup's charge counts all
// below it.
static unsigned long long RoomUpTo(const CGROUP_FILES &Files, TEXT &Directory, size_t Top) {
  unsigned long long Least = NoMemoryLimit;
  for (;;) {
    TEXT Text;
    unsigned long long Limit, Used, Cache = 0;
    if (!GroupNumber(Directory, Files.Limit, Limit)) {
      // No limit file: the root, or a cgroup without a limit of its own.
      // One that is there but can't be read, or makes no sense, may hold
      // any limit.
      if (errno != ENOENT)
        return NoRoom;
      Limit = Unlimited;
    }
    if (Limit < Unlimited) {
      if (!GroupNumber(Directory, Files.Usage, Used))
        return NoRoom;
      if (ReadGroupFile(Directory, "/memory.stat", Text)) {
        Cache = StatValue(Text, Files.ActiveFile) + StatValue(Text, Files.InactiveFile);
        Unmap(Text);
      }
      Used = Cache < Used ? Used - Cache : 0;
      unsigned long long Room = Used < Limit ? Limit - Used : 0;
      if (Room < Least)
        Least = Room;
    }
    // Up to the cgroup above, as far as the mount shows.
    if (Directory.Length <= Top)
      return Least;
    while (Directory.Length > Top && Directory.Bytes[Directory.Length - 1] != '/')
      Directory.Length--;
    if (Directory.Length > Top)
      Directory.Length--;
    Directory.Bytes[Directory.Length] = 0;
  }
}

// Whether the cgroup.procs of the cgroup in Directory lists the process.
static bool ListsProcess(TEXT &Directory) {
  TEXT Procs;
  if (!ReadGroupFile(Directory, "/cgroup.procs", Procs))
    return false;
  long Self = (long)getpid();
  bool Found = false;
  for (char *Line = Procs.Bytes; *Line && !Found;) {
    char *End;
    Found = strtol(Line, &End, 10) == Self && (*End == '\n' || *End == 0);
    Line = strchr(Line, '\n');
    Line = Line ? Line + 1 : End + strlen(End);
  }
  Unmap(Procs);
  return Found;
}

// Below Directory, Depth levels down, then Rest: the directory that lists
// the process, put in Directory; false when none does.
static bool FindProcess(TEXT &Directory, int Depth, const char *Rest, size_t RestLength) {
  if (Depth == 0) {
    TEXT Path;
    const char *Parts[] = {Directory.Bytes, Rest};
    const size_t Lengths[] = {Directory.Length, RestLength};
    if (!Join(Path, Parts, Lengths, 2, LongestName))
      return false;
    if (!ListsProcess(Path)) {
      Unmap(Path);
      return false;
    }
    Unmap(Directory);
    Directory = Path;
    return true;
  }
  int Fd = open(Directory.Bytes, O_RDONLY | O_DIRECTORY);
  if (Fd < 0)
    return false;
  TEXT Entries = TEXT();
  bool Found = false;
  long Count;
  while (!Found && Map(Entries, 1 << 16) &&
         (Count = syscall(SYS_getdents64, Fd, Entries.Bytes, Entries.Mapped)) > 0) {
    for (long At = 0; At < Count && !Found;) {
      // struct linux_dirent64: inode, offset, length, type, name.
      const char *Entry = Entries.Bytes + At;
      unsigned short Length;
      memcpy(&Length, Entry + 16, sizeof Length);
      const char *Name = Entry + 19;
      At += Length;
      if (Entry[18] != DT_DIR || strcmp(Name, ".") == 0 || strcmp(Name, "..") == 0)
        continue;
      TEXT Below;
      const char *Parts[] = {Directory.Bytes, "/", Name};
      const size_t Lengths[] = {Directory.Length, 1, strlen(Name)};
      if (!Join(Below, Parts, Lengths, 3, 0))
        break;
      Found = FindProcess(Below, Depth - 1, Rest, RestLength);
      if (Found) {
        Unmap(Directory);
        Directory = Below;
      } else {
        Unmap(Below);
      }
    }
  }
  Unmap(Entries);
  close(Fd);
  return Found;
}

// Leading "/.." steps of a path, taken off it.
static int Ups(const char *&Path, size_t &Length) {
  int Count = 0;
  while (Length >= 3 && memcmp(Path, "/..", 3) == 0 && (Length == 3 || Path[3] == '/')) {
    Path += 3;
    Length -= 3;
    Count++;
  }
  return Count;
}

static bool IsOctal(char Digit) {
  return Digit >= '0' && Digit <= '7';
}

// Undoes mountinfo's octal escapes (\040 for a space) in place: each mount's
// line is read for one tree only, so never twice.
static size_t Unescape(char *Field, size_t Length) {
  size_t To = 0;
  for (size_t From = 0; From < Length; From++, To++) {
    Field[To] = Field[From];
    if (Field[From] == '\\' && From + 3 < Length && IsOctal(Field[From + 1]) &&
        IsOctal(Field[From + 2]) && IsOctal(Field[From + 3])) {
      Field[To] = (char)((Field[From + 1] - '0') << 6 | (Field[From + 2] - '0') << 3 |
                         (Field[From + 3] - '0'));
      From += 3;
    }
  }
  return To;
}

// Whether the comma-separated list from From to End names Word.
static bool Names(const char *From, const char *End, const char *Word) {
  size_t Length = strlen(Word);
  while (From < End) {
    const char *Comma = (const char *)memchr(From, ',', (size_t)(End - From));
    const char *Stop = Comma ? Comma : End;
    if ((size_t)(Stop - From) == Length && memcmp(From, Word, Length) == 0)
      return true;
    From = Stop + 1;
  }
  return false;
}

// The room under the cgroup Group (its path as /proc/self/cgroup gives it,
// relative to the process's cgroup namespace) in the tree of kind Files,
// as the first mount of that tree in Mounts that shows it, or a cgroup above
// it, shows it.
static unsigned long long RoomInTree(const char *Root, const CGROUP_FILES &Files, bool Version2Tree,
                                     const char *Group, size_t GroupLength, TEXT &Mounts) {
  // "ID PARENT DEVICE ROOT MOUNT-POINT OPTIONS [TAGS...] - TYPE SOURCE SUPER-OPTIONS"
  for (char *Line = Mounts.Bytes; *Line;) {
    char *End = strchr(Line, '\n');
    if (!End)
      End = Line + strlen(Line);
    char *Field[5], *Stop[5], *At = Line;
    int Count = 0;
    for (; Count < 5 && At < End; Count++) {
      Field[Count] = At;
      while (At < End && *At != ' ')
        At++;
      Stop[Count] = At++;
    }
    char *Dash = Count == 5 ? strstr(At - 1, " - ") : 0;
    char *Next = *End ? End + 1 : End;
    if (!Dash || Dash >= End) {
      Line = Next;
      continue;
    }
    char *Type = Dash + 3, *TypeEnd = (char *)memchr(Type, ' ', (size_t)(End - Type));
    char *Options = TypeEnd ? (char *)memchr(TypeEnd + 1, ' ', (size_t)(End - TypeEnd - 1)) : 0;
    bool Memory =
        TypeEnd && (Version2Tree ? TypeEnd - Type == 7 && memcmp(Type, "cgroup2", 7) == 0
                                 : TypeEnd - Type == 6 && memcmp(Type, "cgroup", 6) == 0 &&
                                       Options && Names(Options + 1, End, "memory"));
    Line = Next;
    if (!Memory)
      continue;

    // The mount shows the tree from its root down, the root given relative
    // to the process's namespace, as Group is: so Group's place below the
    // root is found by taking the same leading steps off both.
    const char *MountRoot = Field[3], *Point = Field[4];
    size_t RootLength = Unescape(Field[3], (size_t)(Stop[3] - Field[3]));
    size_t PointLength = Unescape(Field[4], (size_t)(Stop[4] - Field[4]));
    const char *Rest = Group;
    size_t RestLength = GroupLength;
    int RootUps = Ups(MountRoot, RootLength), GroupUps = Ups(Rest, RestLength);
    if (RootLength == 1 && *MountRoot == '/')
      RootLength = 0;
    if (RestLength == 1 && *Rest == '/')
      RestLength = 0;
    TEXT Directory;
    const char *Parts[] = {Root, Point};
    const size_t Lengths[] = {strlen(Root), PointLength};
    if (!Join(Directory, Parts, Lengths, 2, LongestName))
      return NoRoom;
    size_t Top = Directory.Length;
    bool Found = false;
    if (RootUps == GroupUps && RootLength <= RestLength &&
        memcmp(MountRoot, Rest, RootLength) == 0 &&
        (RestLength == RootLength || Rest[RootLength] == '/')) {
      // Group lies below the mount's root: its path from there on.
      TEXT Path;
      const char *GroupParts[] = {Directory.Bytes, Rest + RootLength};
      const size_t GroupLengths[] = {Directory.Length, RestLength - RootLength};
      bool Joined = Join(Path, GroupParts, GroupLengths, 2, LongestName);
      Unmap(Directory);
      if (!Joined)
        return NoRoom;
      Directory = Path;
      Found = true;
    } else if (RootUps > GroupUps && RootLength == 0) {
      // The mount's root lies above the namespace's, whose name the paths
      // don't give: Group is the directory so far below it that lists the
      // process. Where none does, Directory stays the mount's root, the
      // nearest cgroup above it that can be seen.
      FindProcess(Directory, RootUps - GroupUps, Rest, RestLength);
      Found = true;
    }
    if (!Found) {
      Unmap(Directory);
      continue;
    }
    unsigned long long Room = RoomUpTo(Files, Directory, Top);
    Unmap(Directory);
    return Room;
  }
  return NoMemoryLimit;
}

unsigned long long MemoryRoom(const char *Root) {
  TEXT Groups, Mounts;
  TEXT Path;
  const char *GroupsParts[] = {Root, "/proc/self/cgroup"};
  const size_t GroupsLengths[] = {strlen(Root), sizeof "/proc/self/cgroup" - 1};
  if (!Join(Path, GroupsParts, GroupsLengths, 2, sizeof "mountinfo"))
    return NoRoom;
  bool Read = ReadWhole(Path.Bytes, Groups);
  memcpy(Path.Bytes + Path.Length - 6, "mountinfo", sizeof "mountinfo");
  if (!Read) {
    Unmap(Path);
    return NoMemoryLimit; // no /proc: nothing can be known
  }
  bool MountsRead = ReadWhole(Path.Bytes, Mounts);
  Unmap(Path);
  if (!MountsRead) {
    Unmap(Groups);
    return NoRoom; // in cgroups, but where their trees are can't be read
  }

  // "ID:CONTROLLERS:PATH" for each tree the process is in: cgroup v2's is
  // "0::PATH", a v1 tree's names its controllers.
  unsigned long long Least = NoMemoryLimit;
  for (const char *Line = Groups.Bytes; *Line && Least != NoRoom;) {
    const char *End = strchr(Line, '\n');
    if (!End)
      End = Line + strlen(Line);
    const char *Controllers = (const char *)memchr(Line, ':', (size_t)(End - Line));
    const char *Group =
        Controllers ? (const char *)memchr(Controllers + 1, ':', (size_t)(End - Controllers - 1))
                    : 0;
    if (!Group || Group + 1 >= End || Group[1] != '/') {
      Least = NoRoom; // a line that makes no sense
      break;
    }
    bool Version2Tree = Controllers == Line + 1 && *Line == '0' && Group == Controllers + 1;
    if (Version2Tree || Names(Controllers + 1, Group, "memory")) {
      unsigned long long Room = RoomInTree(Root, Version2Tree ? Version2 : Version1, Version2Tree,
                                           Group + 1, (size_t)(End - Group - 1), Mounts);
      if (Room < Least)
        Least = Room;
    }
    Line = *End ? End + 1 : End;
  }
  Unmap(Groups);
  Unmap(Mounts);
  return Least;
}

#else

unsigned long long MemoryRoom(const char *) {
  return NoMemoryLimit;
}

#endif
