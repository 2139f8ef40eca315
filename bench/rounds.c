/* rounds: times commands run in turn, round after round, each round
   starting one command further on, so that the machine's drifting load
   falls on all alike. The order within a round goes back and forth (first,
   second, last, third, last but one, ...; reversed every other turn when
   the commands are odd in number), so that over a whole turn each follows
   each other one equally often: a program that runs right after another
   has released a large buffer finds its memory hot. Each command shows
   test.txt from the current directory into a pipe that a fresh
   `cat >/dev/null` empties, or into a file; a run is timed from its start
   until it (and the cat) have exited. No shell: its start-up would be most
   of what a small file costs.

     rounds ROUNDS OUTPUT COMMAND...

   OUTPUT is "pipe", or a file made afresh for each run (an ext4 file
   emptied by O_TRUNC is written to disk as it is closed) and checked to
   hold as many bytes as test.txt. A COMMAND is its words, separated by
   spaces. ROUNDS is rounded up to whole turns of the order. Prints a line
   a command: the median, least and most time in ms; exits 1 when a run
   fails. */
#define _GNU_SOURCE
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

extern char **environ;

enum { MostWords = 16 };

static double Now(void) {
  struct timespec At;
  clock_gettime(CLOCK_MONOTONIC, &At);
  return (double)At.tv_sec * 1e3 + (double)At.tv_nsec / 1e6;
}

/* Every descriptor of ours is close-on-exec: a command gets standard input
   and output, and nothing else to number its own descriptors around. */
static pid_t Start(char **Words, int Input, int Output) {
  posix_spawn_file_actions_t Actions;
  posix_spawn_file_actions_init(&Actions);
  if (Input >= 0)
    posix_spawn_file_actions_adddup2(&Actions, Input, 0);
  posix_spawn_file_actions_adddup2(&Actions, Output, 1);
  pid_t Child;
  int Error = posix_spawnp(&Child, Words[0], &Actions, 0, Words, environ);
  posix_spawn_file_actions_destroy(&Actions);
  if (Error != 0) {
    fprintf(stderr, "rounds: can't start %s: %s\n", Words[0], strerror(Error));
    exit(1);
  }
  return Child;
}

static void Finish(pid_t Child, const char *Name) {
  int Status;
  while (waitpid(Child, &Status, 0) < 0)
    ;
  if (!WIFEXITED(Status) || WEXITSTATUS(Status) != 0) {
    fprintf(stderr, "rounds: %s failed (status %#x)\n", Name, Status);
    exit(1);
  }
}

/* One run of Words, its time in ms. */
static double Run(char **Words, const char *Output, int Null, off_t Size) {
  static char *Reader[] = {"cat", 0};
  int Ends[2] = {-1, -1}, Out = -1;
  if (strcmp(Output, "pipe") == 0) {
    if (pipe2(Ends, O_CLOEXEC) != 0) {
      perror("rounds: pipe");
      exit(1);
    }
  } else {
    unlink(Output);
    Out = open(Output, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (Out < 0) {
      perror(Output);
      exit(1);
    }
  }
  double Began = Now();
  if (Out < 0) {
    pid_t Cat = Start(Reader, Ends[0], Null);
    pid_t Shown = Start(Words, -1, Ends[1]);
    close(Ends[0]);
    close(Ends[1]);
    Finish(Shown, Words[0]);
    Finish(Cat, "cat");
  } else {
    Finish(Start(Words, -1, Out), Words[0]);
  }
  double Took = Now() - Began;
  if (Out >= 0) {
    struct stat Written;
    if (fstat(Out, &Written) != 0 || Written.st_size != Size) {
      fprintf(stderr, "rounds: %s wrote %lld bytes of %lld\n", Words[0], (long long)Written.st_size,
              (long long)Size);
      exit(1);
    }
    close(Out);
  }
  return Took;
}

static int Earlier(const void *A, const void *B) {
  double X = *(const double *)A, Y = *(const double *)B;
  return (X > Y) - (X < Y);
}

int main(int Count, char **Arguments) {
  if (Count < 4) {
    fprintf(stderr, "usage: rounds ROUNDS OUTPUT COMMAND...\n");
    return 2;
  }
  int Commands = Count - 3;
  int Turn = Commands % 2 ? 2 * Commands : Commands;
  int Rounds = (atoi(Arguments[1]) + Turn - 1) / Turn * Turn;
  const char *Output = Arguments[2];
  char *Words[Commands][MostWords];
  for (int C = 0; C < Commands; C++) {
    int N = 0;
    for (char *Word = strtok(Arguments[3 + C], " "); Word && N < MostWords - 1;
         Word = strtok(0, " "))
      Words[C][N++] = Word;
    Words[C][N] = 0;
  }
  struct stat Input;
  int Null = open("/dev/null", O_WRONLY | O_CLOEXEC);
  if (stat("test.txt", &Input) != 0 || Null < 0 || Rounds <= 0) {
    fprintf(stderr, "rounds: no test.txt here, or no /dev/null, or no rounds\n");
    return 1;
  }
  double *Times = calloc((size_t)(Commands * Rounds), sizeof *Times);
  /* One round first, not counted, for the programs and the file to be in
     the page cache. */
  for (int R = -1; R < Rounds; R++)
    for (int Step = 0; Step < Commands; Step++) {
      int Place = Commands % 2 && (R / Commands) % 2 ? Commands - 1 - Step : Step;
      int Offset = Place % 2 ? (Place + 1) / 2 : (Commands - Place / 2) % Commands;
      int C = (R + Commands + Offset) % Commands;
      double Took = Run(Words[C], Output, Null, Input.st_size);
      if (R >= 0)
        Times[C * Rounds + R] = Took;
    }
  if (strcmp(Output, "pipe") != 0)
    unlink(Output);
  for (int C = 0; C < Commands; C++) {
    double *Own = Times + C * Rounds;
    qsort(Own, (size_t)Rounds, sizeof *Own, Earlier);
    double Median = (Own[(Rounds - 1) / 2] + Own[Rounds / 2]) / 2;
    printf("%.3f %.3f %.3f\n", Median, Own[0], Own[Rounds - 1]);
  }
  return 0;
}
