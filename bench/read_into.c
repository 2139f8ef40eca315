/* read_into: the floor for showfile's one read of a large file: test.txt
   read whole, with one read call, into a zero-filled buffer whose first
   byte lies on a 2 MiB boundary, backed by huge pages and faulted in first,
   as showfile's is. Prints the read's own time in microseconds. */
#include <fcntl.h>
#include <stdio.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

int main(void) {
  int File = open("test.txt", O_RDONLY);
  struct stat Status;
  if (File < 0 || fstat(File, &Status) != 0)
    return 1;
  size_t Huge = 2 << 20, Length = ((size_t)Status.st_size + Huge - 1) & ~(Huge - 1);
  char *Buffer = mmap(0, Length, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
  if (Buffer == MAP_FAILED)
    return 1;
  madvise(Buffer, Length, MADV_HUGEPAGE);
  madvise(Buffer, Length, 23 /* MADV_POPULATE_WRITE */);
  struct timespec Start, End;
  clock_gettime(CLOCK_MONOTONIC, &Start);
  ssize_t Count = read(File, Buffer, (size_t)Status.st_size);
  clock_gettime(CLOCK_MONOTONIC, &End);
  printf("%.0f\n", (End.tv_sec - Start.tv_sec) * 1e6 + (End.tv_nsec - Start.tv_nsec) / 1e3);
  return Count == Status.st_size ? 0 : 1;
}
