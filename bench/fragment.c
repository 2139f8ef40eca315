/* fragment: runs a command with the machine's free memory fragmented, as
   other work leaves it: most of what is free is filled with small pages,
   and every other one is given back, so that free memory is a scatter of
   single pages and a huge page can only be had by compacting memory. The
   pages stay held until the command ends.

     fragment MIB COMMAND [ARG...]   fills all of MemFree but MIB MiB */
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <unistd.h>

static long FreeKib(void) {
  FILE *Info = fopen("/proc/meminfo", "r");
  char Line[256];
  long Kib = -1;
  while (Info && fgets(Line, sizeof Line, Info))
    if (sscanf(Line, "MemFree: %ld kB", &Kib) == 1)
      break;
  if (Info)
    fclose(Info);
  return Kib;
}

int main(int Count, char **Arguments) {
  if (Count < 3) {
    fprintf(stderr, "usage: fragment MIB COMMAND [ARG...]\n");
    return 2;
  }
  long Page = sysconf(_SC_PAGESIZE);
  long Kib = FreeKib() - atol(Arguments[1]) * 1024;
  if (Kib <= 0) {
    fprintf(stderr, "fragment: less than that is free\n");
    return 1;
  }
  size_t Bytes = (size_t)Kib * 1024;
  char *Fill = mmap(0, Bytes, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (Fill == MAP_FAILED) {
    perror("fragment: mmap");
    return 1;
  }
  /* Small pages only, and each one touched, then every other one freed. */
  madvise(Fill, Bytes, MADV_NOHUGEPAGE);
  for (size_t At = 0; At < Bytes; At += (size_t)Page)
    Fill[At] = 1;
  for (size_t At = 0; At < Bytes; At += 2 * (size_t)Page)
    madvise(Fill + At, (size_t)Page, MADV_DONTNEED);
  pid_t Child = fork();
  if (Child == 0) {
    execvp(Arguments[2], Arguments + 2);
    perror("fragment: exec");
    _exit(127);
  }
  int Status = 0;
  waitpid(Child, &Status, 0);
  return WIFEXITED(Status) ? WEXITSTATUS(Status) : 1;
}
