// A library the tests preload (LD_PRELOAD) into the updater or into a test program: it
// stands between the program and the C library's calls that change a folder, and counts,
// traces, stops, kills or fails them as the environment says. It is never part of the
// product. Only calls that touch a path below QVU_FAULT_ROOT are counted or changed; without
// that variable every call passes straight through. The variables are read at each call, so
// an in-process test can change them between calls.
//
//   QVU_FAULT_ROOT        the folder whose changes count (a resolved path)
//   QVU_FAULT_TRACE       a file; one line per counted call: "index<TAB>call<TAB>path[<TAB>path]"
//   QVU_FAULT_KILL_AT     k: SIGKILL just before the k-th counted call (counted from 1)
//   QVU_FAULT_STOP_AT     k: SIGSTOP just before the k-th counted call; it goes on after SIGCONT
//   QVU_FAULT_FAIL_FROM   k: the k-th and every later counted call named in QVU_FAULT_FAIL_CALLS
//                         (comma separated, e.g. "rename,renameat") fails with EIO, undone
//   QVU_FAULT_FSYNC       "ERRNO:dir" or "ERRNO:file" (ERRNO one of EIO, EINVAL, EROFS,
//                         ENOTSUP): fsync and fdatasync of such an entry below the root fail;
//                         "skip:any": they succeed below the root without flushing anything
//   QVU_FAULT_RENAME_LIE  a path: a rename from it is made, and then reported as failed (EIO)
//
// Counted calls: rename, renameat, renameat2, link, linkat, symlink, symlinkat, unlink,
// unlinkat, remove, rmdir, mkdir, mkdirat, open/openat/creat with O_CREAT, and setxattr,
// lsetxattr, fsetxattr.
#undef _FORTIFY_SOURCE
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <signal.h>
#include <stdarg.h>
#include <stdatomic.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <sys/types.h>
#include <unistd.h>

static atomic_long counted;

// Tells a test that the library is in place.
int qvu_fault_loaded(void) { return 1; }

static void* Real(const char* name) { return dlsym(RTLD_NEXT, name); }

static long EnvNumber(const char* name) {
  const char* v = getenv(name);
  return v && *v ? strtol(v, NULL, 10) : 0;
}

// The absolute path that (dirfd, path) names, without resolving links.
static void Resolve(int dirfd, const char* path, char* out, size_t size) {
  out[0] = '\0';
  if (path == NULL) return;
  if (path[0] == '/') {
    snprintf(out, size, "%s", path);
    return;
  }
  char base[PATH_MAX] = "";
  if (dirfd == AT_FDCWD) {
    if (getcwd(base, sizeof base) == NULL) base[0] = '\0';
  } else {
    char link[64];
    snprintf(link, sizeof link, "/proc/self/fd/%d", dirfd);
    ssize_t n = readlink(link, base, sizeof base - 1);
    base[n > 0 ? n : 0] = '\0';
  }
  snprintf(out, size, "%s/%s", base, path);
}

static void FdPath(int fd, char* out, size_t size) {
  char link[64];
  snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
  ssize_t n = readlink(link, out, size - 1);
  out[n > 0 ? n : 0] = '\0';
}

static int Below(const char* path, const char* root) {
  size_t n = strlen(root);
  while (n > 1 && root[n - 1] == '/') --n;
  return path[0] != '\0' && strncmp(path, root, n) == 0 && (path[n] == '/' || path[n] == '\0');
}

static int Listed(const char* call, const char* list) {
  if (list == NULL) return 0;
  size_t n = strlen(call);
  for (const char* p = list; *p;) {
    const char* end = strchr(p, ',');
    size_t len = end ? (size_t)(end - p) : strlen(p);
    if (len == n && strncmp(p, call, n) == 0) return 1;
    if (end == NULL) break;
    p = end + 1;
  }
  return 0;
}

static void Trace(long index, const char* call, const char* a, const char* b) {
  const char* file = getenv("QVU_FAULT_TRACE");
  if (file == NULL || *file == '\0') return;
  char line[3 * PATH_MAX];
  int len = snprintf(line, sizeof line, "%ld\t%s\t%s%s%s\n", index, call, a, b[0] ? "\t" : "", b);
  if (len < 0) return;
  if ((size_t)len >= sizeof line) len = (int)sizeof line - 1;
  int fd = (int)syscall(SYS_openat, AT_FDCWD, file, O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return;
  ssize_t ignored = write(fd, line, (size_t)len);
  (void)ignored;
  close(fd);
}

// Called before each call that may change a folder; 0 to go on, else the errno to fail with.
static int Before(const char* call, const char* a, const char* b) {
  const char* root = getenv("QVU_FAULT_ROOT");
  if (root == NULL || *root == '\0') return 0;
  if (!Below(a, root) && !Below(b, root)) return 0;
  long index = atomic_fetch_add(&counted, 1) + 1;
  Trace(index, call, a, b);
  if (EnvNumber("QVU_FAULT_KILL_AT") == index) syscall(SYS_kill, getpid(), SIGKILL);
  if (EnvNumber("QVU_FAULT_STOP_AT") == index) syscall(SYS_kill, getpid(), SIGSTOP);
  long from = EnvNumber("QVU_FAULT_FAIL_FROM");
  if (from > 0 && index >= from && Listed(call, getenv("QVU_FAULT_FAIL_CALLS"))) return EIO;
  return 0;
}

#define CHECK(call, a, b)       \
  do {                          \
    int err_ = Before(call, a, b); \
    if (err_) {                 \
      errno = err_;             \
      return -1;                \
    }                           \
  } while (0)

static int Lie(int result, const char* from) {
  const char* lie = getenv("QVU_FAULT_RENAME_LIE");
  if (result == 0 && lie != NULL && strcmp(lie, from) == 0) {
    errno = EIO;
    return -1;
  }
  return result;
}

// An interposer for a call that changes the entry `path` names (relative to `dirfd`).
#define PATH_CALL(name, params, dirfd, path, args) \
  int name params {                                 \
    static int(*real) params;                       \
    if (!real) real = Real(#name);                  \
    char a[PATH_MAX];                               \
    Resolve(dirfd, path, a, sizeof a);              \
    CHECK(#name, a, "");                            \
    return real args;                               \
  }

// An interposer for a rename from `from` (relative to `fromfd`) to `to` (relative to `tofd`).
#define RENAME_CALL(name, params, fromfd, from, tofd, to, args) \
  int name params {                                              \
    static int(*real) params;                                    \
    if (!real) real = Real(#name);                               \
    char a[PATH_MAX], b[PATH_MAX];                               \
    Resolve(fromfd, from, a, sizeof a);                          \
    Resolve(tofd, to, b, sizeof b);                              \
    CHECK(#name, a, b);                                          \
    return Lie(real args, a);                                    \
  }

RENAME_CALL(rename, (const char* from, const char* to), AT_FDCWD, from, AT_FDCWD, to, (from, to))
RENAME_CALL(renameat, (int fromfd, const char* from, int tofd, const char* to), fromfd, from, tofd, to,
            (fromfd, from, tofd, to))
RENAME_CALL(renameat2, (int fromfd, const char* from, int tofd, const char* to, unsigned int flags), fromfd,
            from, tofd, to, (fromfd, from, tofd, to, flags))
PATH_CALL(link, (const char* from, const char* to), AT_FDCWD, to, (from, to))
PATH_CALL(linkat, (int fromfd, const char* from, int tofd, const char* to, int flags), tofd, to,
          (fromfd, from, tofd, to, flags))
PATH_CALL(symlink, (const char* target, const char* path), AT_FDCWD, path, (target, path))
PATH_CALL(symlinkat, (const char* target, int dirfd, const char* path), dirfd, path, (target, dirfd, path))
PATH_CALL(unlink, (const char* path), AT_FDCWD, path, (path))
PATH_CALL(unlinkat, (int dirfd, const char* path, int flags), dirfd, path, (dirfd, path, flags))
PATH_CALL(remove, (const char* path), AT_FDCWD, path, (path))
PATH_CALL(rmdir, (const char* path), AT_FDCWD, path, (path))
PATH_CALL(mkdir, (const char* path, mode_t mode), AT_FDCWD, path, (path, mode))
PATH_CALL(mkdirat, (int dirfd, const char* path, mode_t mode), dirfd, path, (dirfd, path, mode))
PATH_CALL(setxattr, (const char* path, const char* name, const void* value, size_t size, int flags), AT_FDCWD,
          path, (path, name, value, size, flags))
PATH_CALL(lsetxattr, (const char* path, const char* name, const void* value, size_t size, int flags), AT_FDCWD,
          path, (path, name, value, size, flags))

// The open calls count only when they may create a file. (__O_TMPFILE includes the bit of
// O_DIRECTORY, which alone creates nothing.)
static int Creates(int flags) { return (flags & O_CREAT) || (flags & __O_TMPFILE) == __O_TMPFILE; }

#define OPEN_CALL(name, params, dirfd, args)    \
  int name params {                               \
    static int(*real) params;                     \
    if (!real) real = Real(#name);                \
    mode_t mode = 0;                              \
    if (Creates(flags)) {                         \
      va_list ap;                                 \
      va_start(ap, flags);                        \
      mode = va_arg(ap, mode_t);                  \
      va_end(ap);                                 \
      char a[PATH_MAX];                           \
      Resolve(dirfd, path, a, sizeof a);          \
      CHECK("open", a, "");                       \
    }                                             \
    return real args;                             \
  }
OPEN_CALL(open, (const char* path, int flags, ...), AT_FDCWD, (path, flags, mode))
OPEN_CALL(open64, (const char* path, int flags, ...), AT_FDCWD, (path, flags, mode))
OPEN_CALL(openat, (int dirfd, const char* path, int flags, ...), dirfd, (dirfd, path, flags, mode))
OPEN_CALL(openat64, (int dirfd, const char* path, int flags, ...), dirfd, (dirfd, path, flags, mode))

int creat(const char* path, mode_t mode) { return open(path, O_CREAT | O_WRONLY | O_TRUNC, mode); }
int creat64(const char* path, mode_t mode) { return open(path, O_CREAT | O_WRONLY | O_TRUNC, mode); }

int fsetxattr(int fd, const char* name, const void* value, size_t size, int flags) {
  static int (*real)(int, const char*, const void*, size_t, int);
  if (!real) real = Real("fsetxattr");
  char a[PATH_MAX];
  FdPath(fd, a, sizeof a);
  CHECK("fsetxattr", a, "");
  return real(fd, name, value, size, flags);
}

// The failure QVU_FAULT_FSYNC asks for on this descriptor, or 0.
static int FsyncFault(int fd) {
  const char* wanted = getenv("QVU_FAULT_FSYNC");
  const char* root = getenv("QVU_FAULT_ROOT");
  if (wanted == NULL || root == NULL || *root == '\0') return 0;
  const char* colon = strchr(wanted, ':');
  if (colon == NULL) return 0;
  struct stat st;
  if (strcmp(wanted, "skip:any") == 0) {
    char p[PATH_MAX];
    FdPath(fd, p, sizeof p);
    return Below(p, root) ? -1 : 0;
  }
  if (fstat(fd, &st) != 0) return 0;
  int wantDir = strcmp(colon + 1, "dir") == 0;
  if (wantDir != (S_ISDIR(st.st_mode) != 0)) return 0;
  char path[PATH_MAX];
  FdPath(fd, path, sizeof path);
  if (!Below(path, root)) return 0;
  size_t n = (size_t)(colon - wanted);
  if (n == 3 && strncmp(wanted, "EIO", n) == 0) return EIO;
  if (n == 6 && strncmp(wanted, "EINVAL", n) == 0) return EINVAL;
  if (n == 5 && strncmp(wanted, "EROFS", n) == 0) return EROFS;
  if (n == 7 && strncmp(wanted, "ENOTSUP", n) == 0) return ENOTSUP;
  return 0;
}

#define SYNC_CALL(name)           \
  int name(int fd) {              \
    static int (*real)(int);      \
    if (!real) real = Real(#name); \
    int err = FsyncFault(fd);     \
    if (err < 0) return 0;        \
    if (err) {                    \
      errno = err;                \
      return -1;                  \
    }                             \
    return real(fd);              \
  }
SYNC_CALL(fsync)
SYNC_CALL(fdatasync)
