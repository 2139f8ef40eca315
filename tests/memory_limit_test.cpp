#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <string>
#include <unistd.h>
#include <utility>
#include <vector>

#include "platform/posix/memory_limit.h"

namespace fs = std::filesystem;

// The room the memory cgroup check finds in a tree of files made for the
// case: /proc/self/cgroup, /proc/self/mountinfo and the cgroups' files,
// under a directory of its own. "<dir>" makes a directory where a file is
// looked for: a file no one, root included, can read.
TEST(MemoryRoom, ReadsTheLimitsOfEveryTreeTheProcessIsIn) {
  const unsigned long long M = 1 << 20, None = NoMemoryLimit;
  const std::string V1 = "34 30 0:31 / /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n";
  const std::string V2 = "40 30 0:37 / /sys/fs/cgroup rw - cgroup2 cgroup2 rw\n";
  const std::string Other = "31 30 0:28 / /sys/fs/cgroup/cpu rw - cgroup cgroup rw,cpu\n";
  const std::string Up = "34 30 0:31 /.. /sys/fs/cgroup/memory rw - cgroup cgroup rw,memory\n";
  const std::string Mem = "sys/fs/cgroup/memory/", Uni = "sys/fs/cgroup/";
  auto N = [](unsigned long long Bytes) { return std::to_string(Bytes) + "\n"; };
  const std::string Unlimited = "9223372036854771712\n";
  // v1 counts the cache of the cgroups below too ("total_"); the others
  // are decoys.
  const std::string Stat1 = "active_file 20971520\ninactive_file 0\ntotal_active_file 5242880\n"
                            "total_inactive_file 5242880\n";
  std::string LongCgroup, Deep = "/";
  for (int I = 0; I < 20; I++)
    LongCgroup += std::to_string(I + 5) + ":cpu:/" + std::string(300, 'c') + "\n";
  for (int I = 0; I < 12; I++)
    Deep += std::string(49, 'a' + I) + (I < 11 ? "/" : "");
  const std::string Self = std::to_string(getpid()) + "\n";
  using Files = std::vector<std::pair<std::string, std::string>>;
  struct {
    const char *Name;
    Files Tree;
    unsigned long long Room;
  } Cases[] = {
      {"v1: limit less usage less cache",
       {{"proc/self/cgroup", "4:memory:/a\n3:cpu:/\n0::/\n"},
        {"proc/self/mountinfo", Other + V1},
        {Mem + "memory.limit_in_bytes", N(1000 * M)},
        {Mem + "memory.usage_in_bytes", N(500 * M)},
        {Mem + "a/memory.limit_in_bytes", N(100 * M)},
        {Mem + "a/memory.usage_in_bytes", N(30 * M)},
        {Mem + "a/memory.stat", Stat1}},
       80 * M},
      {"v1: a limit set higher up",
       {{"proc/self/cgroup", "4:memory:/a/b\n"},
        {"proc/self/mountinfo", V1},
        {Mem + "a/memory.limit_in_bytes", N(64 * M)},
        {Mem + "a/memory.usage_in_bytes", N(40 * M)},
        {Mem + "a/b/memory.limit_in_bytes", Unlimited},
        {Mem + "a/b/memory.usage_in_bytes", N(10 * M)}},
       24 * M},
      {"v2: max below, a limit above, cache given back",
       {{"proc/self/cgroup", "0::/x/y\n"},
        {"proc/self/mountinfo", V2},
        {Uni + "x/memory.max", N(200 * M)},
        {Uni + "x/memory.current", N(150 * M)},
        {Uni + "x/memory.stat", "anon 1\nactive_file 20971520\ninactive_file 31457280\n"},
        {Uni + "x/y/memory.max", "max\n"},
        {Uni + "x/y/memory.current", N(10 * M)}},
       100 * M},
      {"v2: more cache than usage",
       {{"proc/self/cgroup", "0::/x\n"},
        {"proc/self/mountinfo", V2},
        {Uni + "x/memory.max", N(50 * M)},
        {Uni + "x/memory.current", N(10 * M)},
        {Uni + "x/memory.stat", "active_file 31457280\ninactive_file 0\n"}},
       50 * M},
      {"v2 and v1 both: the least room",
       {{"proc/self/cgroup", "0::/x\n4:memory:/a\n"},
        {"proc/self/mountinfo", V1 + "40 30 0:37 / /sys/fs/cgroup/unified rw - cgroup2 c rw\n"},
        {Mem + "a/memory.limit_in_bytes", N(20 * M)},
        {Mem + "a/memory.usage_in_bytes", N(0)},
        {Uni + "unified/x/memory.max", N(30 * M)},
        {Uni + "unified/x/memory.current", N(15 * M)}},
       15 * M},
      {"a /proc/self/cgroup of more than 4 KiB",
       {{"proc/self/cgroup", LongCgroup + "4:memory:/a\n"},
        {"proc/self/mountinfo", V1},
        {Mem + "a/memory.limit_in_bytes", N(7 * M)},
        {Mem + "a/memory.usage_in_bytes", N(0)}},
       7 * M},
      {"a 600-byte path",
       {{"proc/self/cgroup", "4:memory:" + Deep + "\n"},
        {"proc/self/mountinfo", V1},
        {Mem + Deep.substr(1) + "/memory.limit_in_bytes", N(9 * M)},
        {Mem + Deep.substr(1) + "/memory.usage_in_bytes", N(1 * M)}},
       8 * M},
      {"a mount point with a space in it",
       {{"proc/self/cgroup", "4:memory:/a\n"},
        {"proc/self/mountinfo",
         "34 30 0:31 / /sys/fs/cgroup/mem\\040ory rw - cgroup c rw,memory\n"},
        {"sys/fs/cgroup/mem ory/a/memory.limit_in_bytes", N(3 * M)},
        {"sys/fs/cgroup/mem ory/a/memory.usage_in_bytes", N(0)}},
       3 * M},
      {"a namespace's own mount",
       {{"proc/self/cgroup", "4:memory:/\n"},
        {"proc/self/mountinfo", V1},
        {Mem + "memory.limit_in_bytes", N(8 * M)},
        {Mem + "memory.usage_in_bytes", N(2 * M)}},
       6 * M},
      {"a namespace seen through the host's mount",
       {{"proc/self/cgroup", "4:memory:/\n"},
        {"proc/self/mountinfo", Up},
        {Mem + "other/memory.limit_in_bytes", N(1 * M)},
        {Mem + "other/memory.usage_in_bytes", N(0)},
        {Mem + "other/cgroup.procs", "1\n"},
        {Mem + "zz/memory.limit_in_bytes", N(2 * M)},
        {Mem + "zz/memory.usage_in_bytes", N(0)},
        {Mem + "zz/cgroup.procs", "2\n"},
        {Mem + "ns/memory.limit_in_bytes", N(32 * M)},
        {Mem + "ns/memory.usage_in_bytes", N(0)},
        {Mem + "ns/cgroup.procs", "1\n" + Self}},
       32 * M},
      {"the same, the process in no cgroup the mount shows: the mount's root counts",
       {{"proc/self/cgroup", "4:memory:/\n"},
        {"proc/self/mountinfo", Up},
        {Mem + "memory.limit_in_bytes", N(50 * M)},
        {Mem + "memory.usage_in_bytes", N(0)},
        {Mem + "other/memory.limit_in_bytes", N(1 * M)},
        {Mem + "other/memory.usage_in_bytes", N(0)},
        {Mem + "other/cgroup.procs", "1\n"}},
       50 * M},
      {"a process outside its namespace's root",
       {{"proc/self/cgroup", "4:memory:/../b9\n"},
        {"proc/self/mountinfo", Up},
        {Mem + "b9/memory.limit_in_bytes", N(16 * M)},
        {Mem + "b9/memory.usage_in_bytes", N(0)}},
       16 * M},
      {"charged past its limit",
       {{"proc/self/cgroup", "0::/x\n"},
        {"proc/self/mountinfo", V2},
        {Uni + "x/memory.max", N(10 * M)},
        {Uni + "x/memory.current", N(12 * M)}},
       0},
      {"no limit anywhere",
       {{"proc/self/cgroup", "4:memory:/a\n0::/\n"},
        {"proc/self/mountinfo", V1 + V2},
        {Mem + "memory.limit_in_bytes", Unlimited},
        {Mem + "memory.usage_in_bytes", N(5000 * M)}},
       None},
      {"no /proc", {}, None},
      {"no tree mounted",
       {{"proc/self/cgroup", "4:memory:/a\n"}, {"proc/self/mountinfo", Other}},
       None},
      {"a limit that can't be read",
       {{"proc/self/cgroup", "4:memory:/a\n"},
        {"proc/self/mountinfo", V1},
        {Mem + "a/memory.limit_in_bytes", "<dir>"}},
       0},
      {"a usage that can't be read",
       {{"proc/self/cgroup", "4:memory:/a\n"},
        {"proc/self/mountinfo", V1},
        {Mem + "a/memory.limit_in_bytes", N(64 * M)}},
       0},
      {"a garbled limit",
       {{"proc/self/cgroup", "4:memory:/a\n"},
        {"proc/self/mountinfo", V1},
        {Mem + "a/memory.limit_in_bytes", "lots\n"},
        {Mem + "a/memory.usage_in_bytes", N(0)}},
       0},
      {"a garbled /proc/self/cgroup",
       {{"proc/self/cgroup", "4:memory\n"}, {"proc/self/mountinfo", V1}},
       0},
      {"no mountinfo", {{"proc/self/cgroup", "4:memory:/a\n"}}, 0},
  };
  for (const auto &Case : Cases) {
    char Template[] = "/tmp/memory_room.XXXXXX";
    ASSERT_NE(mkdtemp(Template), nullptr);
    fs::path Root = Template;
    for (const auto &[Path, Content] : Case.Tree) {
      fs::create_directories((Root / Path).parent_path());
      if (Content == "<dir>")
        fs::create_directory(Root / Path);
      else
        std::ofstream(Root / Path) << Content;
    }
    EXPECT_EQ(MemoryRoom(Template), Case.Room) << Case.Name;
    fs::remove_all(Root);
  }
}
