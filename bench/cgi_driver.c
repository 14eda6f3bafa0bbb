/* Times CGI programs the way a web server runs them: posix_spawn with a CGI
 * environment, the POST body on a pipe at standard input, standard output on
 * a pipe that is drained to the end, then waitpid. Each sample is the whole
 * process, from spawn to reaped exit.
 *
 *   cgi_driver ROUNDS ITERS CASEFILE > samples.tsv
 *
 * CASEFILE has one case per line, fields separated by tabs:
 *   name  program  method  query  body
 * (body "-" for none). Cases run interleaved: each round runs ITERS requests
 * of every case in turn, so slow drifts of the machine hit all cases alike.
 * A case whose program exits non-zero or writes nothing stops the run.
 *
 * Prints one line per case:
 *   name  n  mean_us  median_us  p10_us  p90_us  min_us  out_bytes  cpu_mean_us  cpu_median_us
 * where the cpu figures are the child's user plus system time (from wait4),
 * which other load on the machine disturbs far less than elapsed time.
 */
#define _GNU_SOURCE
#include <errno.h>
#include <fcntl.h>
#include <spawn.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

enum { kMaxCases = 64, kMaxEnv = 24 };

struct Case {
  char name[64];
  char program[1024];
  char method[8];
  char query[512];
  char body[4096];
  int hasBody;
  char* envp[kMaxEnv];
  char envText[kMaxEnv][1200];
  double* samples;
  double* cpu;
  size_t count;
  size_t outBytes;
};

static double NowUs(void) {
  struct timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return (double)ts.tv_sec * 1e6 + (double)ts.tv_nsec / 1e3;
}

static void SetEnv(struct Case* c, int* n, const char* name, const char* value) {
  snprintf(c->envText[*n], sizeof c->envText[*n], "%s=%s", name, value);
  c->envp[*n] = c->envText[*n];
  ++*n;
}

static void BuildEnv(struct Case* c) {
  int n = 0;
  char length[32];
  SetEnv(c, &n, "PATH", "/usr/bin:/bin");
  SetEnv(c, &n, "GATEWAY_INTERFACE", "CGI/1.1");
  SetEnv(c, &n, "SERVER_SOFTWARE", "lighttpd/1.4.69");
  SetEnv(c, &n, "SERVER_NAME", "127.0.0.1");
  SetEnv(c, &n, "SERVER_PORT", "8080");
  SetEnv(c, &n, "SERVER_PROTOCOL", "HTTP/1.1");
  SetEnv(c, &n, "REMOTE_ADDR", "127.0.0.1");
  SetEnv(c, &n, "REMOTE_PORT", "40000");
  SetEnv(c, &n, "SCRIPT_NAME", "/qbcgi.exe");
  SetEnv(c, &n, "REQUEST_URI", "/qbcgi.exe");
  SetEnv(c, &n, "HTTP_USER_AGENT", "cgi_driver");
  SetEnv(c, &n, "HTTP_ACCEPT", "*/*");
  SetEnv(c, &n, "REQUEST_METHOD", c->method);
  SetEnv(c, &n, "QUERY_STRING", c->query);
  if (c->hasBody) {
    snprintf(length, sizeof length, "%zu", strlen(c->body));
    SetEnv(c, &n, "CONTENT_TYPE", "application/x-www-form-urlencoded");
    SetEnv(c, &n, "CONTENT_LENGTH", length);
  }
  c->envp[n] = NULL;
}

static int ParseCases(const char* path, struct Case* cases) {
  FILE* f = fopen(path, "r");
  if (!f) {
    perror(path);
    exit(2);
  }
  char line[8192];
  int n = 0;
  while (fgets(line, sizeof line, f)) {
    line[strcspn(line, "\r\n")] = '\0';
    if (line[0] == '\0' || line[0] == '#') continue;
    if (n == kMaxCases) {
      fprintf(stderr, "too many cases\n");
      exit(2);
    }
    char* fields[5] = {0};
    char* p = line;
    for (int i = 0; i < 5; ++i) {
      fields[i] = strsep(&p, "\t");
      if (!fields[i]) {
        fprintf(stderr, "%s: a line needs 5 tab-separated fields\n", path);
        exit(2);
      }
    }
    struct Case* c = &cases[n++];
    memset(c, 0, sizeof *c);
    snprintf(c->name, sizeof c->name, "%s", fields[0]);
    snprintf(c->program, sizeof c->program, "%s", fields[1]);
    snprintf(c->method, sizeof c->method, "%s", fields[2]);
    snprintf(c->query, sizeof c->query, "%s", strcmp(fields[3], "-") == 0 ? "" : fields[3]);
    c->hasBody = strcmp(fields[4], "-") != 0;
    if (c->hasBody) snprintf(c->body, sizeof c->body, "%s", fields[4]);
    BuildEnv(c);
  }
  fclose(f);
  return n;
}

/* One request; returns the bytes written to standard output, or -1. */
static long RunOnce(struct Case* c, double* elapsedUs, double* cpuUs) {
  static char sink[1 << 16];
  int in[2], out[2];
  double start = NowUs();
  if (pipe2(in, O_CLOEXEC) != 0 || pipe2(out, O_CLOEXEC) != 0) return -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, in[0], 0);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addopen(&actions, 2, "/dev/null", O_WRONLY, 0);
  char* argv[] = {c->program, NULL};
  pid_t pid;
  int rc = posix_spawn(&pid, c->program, &actions, NULL, argv, c->envp);
  posix_spawn_file_actions_destroy(&actions);
  close(in[0]);
  close(out[1]);
  if (rc != 0) {
    close(in[1]);
    close(out[0]);
    errno = rc;
    perror(c->program);
    return -1;
  }
  if (c->hasBody) {
    /* The body is far smaller than a pipe's buffer. */
    ssize_t w = write(in[1], c->body, strlen(c->body));
    (void)w;
  }
  close(in[1]);
  long total = 0;
  for (;;) {
    ssize_t n = read(out[0], sink, sizeof sink);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) break;
    total += n;
  }
  close(out[0]);
  int status = 0;
  struct rusage usage;
  while (wait4(pid, &status, 0, &usage) < 0 && errno == EINTR) {
  }
  *elapsedUs = NowUs() - start;
  *cpuUs = (double)(usage.ru_utime.tv_sec + usage.ru_stime.tv_sec) * 1e6 +
           (double)(usage.ru_utime.tv_usec + usage.ru_stime.tv_usec);
  if (!WIFEXITED(status) || WEXITSTATUS(status) != 0) return -1;
  return total;
}

static int CompareDouble(const void* a, const void* b) {
  double x = *(const double*)a, y = *(const double*)b;
  return x < y ? -1 : x > y;
}

static double Quantile(const double* sorted, size_t n, double q) {
  double pos = q * (double)(n - 1);
  size_t i = (size_t)pos;
  double frac = pos - (double)i;
  return i + 1 < n ? sorted[i] * (1 - frac) + sorted[i + 1] * frac : sorted[i];
}

int main(int argc, char** argv) {
  if (argc != 4) {
    fprintf(stderr, "usage: cgi_driver ROUNDS ITERS CASEFILE\n");
    return 2;
  }
  int rounds = atoi(argv[1]);
  int iters = atoi(argv[2]);
  if (rounds < 1 || iters < 1 || rounds * (long)iters > 1000000) {
    fprintf(stderr, "cgi_driver: ROUNDS and ITERS must be positive and bounded\n");
    return 2;
  }
  static struct Case cases[kMaxCases];
  int n = ParseCases(argv[3], cases);
  for (int i = 0; i < n; ++i) {
    cases[i].samples = malloc(sizeof(double) * (size_t)rounds * (size_t)iters);
    cases[i].cpu = malloc(sizeof(double) * (size_t)rounds * (size_t)iters);
    if (!cases[i].samples || !cases[i].cpu) return 2;
  }
  /* One untimed request of each case warms the page cache. */
  for (int i = 0; i < n; ++i) {
    double us, cpu;
    if (RunOnce(&cases[i], &us, &cpu) <= 0) {
      fprintf(stderr, "cgi_driver: case %s failed or wrote nothing\n", cases[i].name);
      return 1;
    }
  }
  for (int r = 0; r < rounds; ++r) {
    for (int i = 0; i < n; ++i) {
      struct Case* c = &cases[i];
      for (int k = 0; k < iters; ++k) {
        double us, cpu;
        long bytes = RunOnce(c, &us, &cpu);
        if (bytes <= 0) {
          fprintf(stderr, "cgi_driver: case %s failed or wrote nothing\n", c->name);
          return 1;
        }
        c->outBytes = (size_t)bytes;
        c->cpu[c->count] = cpu;
        c->samples[c->count++] = us;
      }
    }
  }
  for (int i = 0; i < n; ++i) {
    struct Case* c = &cases[i];
    qsort(c->samples, c->count, sizeof(double), CompareDouble);
    qsort(c->cpu, c->count, sizeof(double), CompareDouble);
    double sum = 0, cpuSum = 0;
    for (size_t k = 0; k < c->count; ++k) {
      sum += c->samples[k];
      cpuSum += c->cpu[k];
    }
    printf("%s\t%zu\t%.1f\t%.1f\t%.1f\t%.1f\t%.1f\t%zu\t%.1f\t%.1f\n", c->name, c->count, sum / (double)c->count,
           Quantile(c->samples, c->count, 0.5), Quantile(c->samples, c->count, 0.1),
           Quantile(c->samples, c->count, 0.9), c->samples[0], c->outBytes, cpuSum / (double)c->count,
           Quantile(c->cpu, c->count, 0.5));
    free(c->samples);
    free(c->cpu);
  }
  return 0;
}
