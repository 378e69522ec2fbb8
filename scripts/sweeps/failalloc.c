/* Preloaded into a program (LD_PRELOAD): counts the allocations made from
 * the moment main is called (malloc, calloc, realloc and the aligned kinds;
 * C++'s new goes through malloc), and fails the Nth one with ENOMEM, where N
 * is FAIL_ALLOC_AT (0 or unset: none fails). With FAIL_ALLOC_COUNT set to a
 * path, the count is written there at exit. Allocations before main (the
 * loader's, the C library's own start-up) are never counted: a program that
 * cannot start reports nothing of its own. FAIL_ALLOC_TRAP set raises SIGTRAP
 * at the failing allocation, for a debugger's backtrace.
 *   cc -shared -fPIC -O2 -o failalloc.so failalloc.c -ldl */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <signal.h>
#include <stdatomic.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>

static atomic_long counted;
static long fail_at;
static atomic_int armed;

static int Fails(void) {
  if (!atomic_load(&armed)) return 0;
  if (atomic_fetch_add(&counted, 1) + 1 != fail_at) return 0;
  /* FAIL_ALLOC_TRAP set: stop there, for a debugger to show who asked. */
  if (getenv("FAIL_ALLOC_TRAP") != NULL) raise(SIGTRAP);
  errno = ENOMEM;
  return 1;
}

/* The allocator that comes next: the C library's, or a sanitizer's when the
 * program is built with one (this library is then preloaded before it, with
 * ASAN_OPTIONS=verify_asan_link_order=0). dlsym may itself allocate while
 * they are looked up; that comes from a small arena that is never freed. */
static void* (*next_malloc)(size_t);
static void* (*next_calloc)(size_t, size_t);
static void* (*next_realloc)(void*, size_t);
static void* (*next_memalign)(size_t, size_t);
static void (*next_free)(void*);
static _Alignas(16) char arena[1 << 16];
static size_t arena_used;

static void Resolve(void) {
  static int resolving;
  if (next_free != NULL || resolving) return;
  resolving = 1;
  next_malloc = (void* (*)(size_t))dlsym(RTLD_NEXT, "malloc");
  next_calloc = (void* (*)(size_t, size_t))dlsym(RTLD_NEXT, "calloc");
  next_realloc = (void* (*)(void*, size_t))dlsym(RTLD_NEXT, "realloc");
  next_memalign = (void* (*)(size_t, size_t))dlsym(RTLD_NEXT, "memalign");
  next_free = (void (*)(void*))dlsym(RTLD_NEXT, "free");
  resolving = 0;
}

static void* FromArena(size_t size) {
  size = (size + 15) / 16 * 16;
  if (size > sizeof arena - arena_used) return NULL;
  arena_used += size;
  return arena + arena_used - size; /* zeroed: static storage, never reused */
}

static int InArena(const void* p) { return (const char*)p >= arena && (const char*)p < arena + sizeof arena; }

void* malloc(size_t size) {
  Resolve();
  if (next_malloc == NULL) return FromArena(size);
  return Fails() ? NULL : next_malloc(size);
}

void* calloc(size_t count, size_t size) {
  Resolve();
  if (next_calloc == NULL) return size != 0 && count > SIZE_MAX / size ? NULL : FromArena(count * size);
  return Fails() ? NULL : next_calloc(count, size);
}

void* realloc(void* old, size_t size) {
  Resolve();
  if (InArena(old)) return NULL;
  return Fails() ? NULL : next_realloc(old, size);
}

void* memalign(size_t alignment, size_t size) {
  Resolve();
  return Fails() ? NULL : next_memalign(alignment, size);
}

void* aligned_alloc(size_t alignment, size_t size) { return memalign(alignment, size); }

int posix_memalign(void** out, size_t alignment, size_t size) {
  void* p = memalign(alignment, size);
  if (p == NULL) return ENOMEM;
  *out = p;
  return 0;
}

void free(void* p) {
  Resolve();
  if (p != NULL && !InArena(p)) next_free(p);
}

typedef int (*Main)(int, char**, char**);
static Main real_main;

static int ArmedMain(int argc, char** argv, char** envp) {
  const char* at = getenv("FAIL_ALLOC_AT");
  fail_at = at != NULL ? atol(at) : 0;
  atomic_store(&armed, 1);
  return real_main(argc, argv, envp);
}

__attribute__((destructor)) static void WriteCount(void) {
  const char* path = getenv("FAIL_ALLOC_COUNT");
  if (path == NULL) return;
  atomic_store(&armed, 0);
  FILE* f = fopen(path, "w");
  if (f == NULL) return;
  fprintf(f, "%ld\n", atomic_load(&counted));
  fclose(f);
}

int __libc_start_main(Main main, int argc, char** argv, void (*init)(void), void (*fini)(void),
                      void (*rtld_fini)(void), void* stack_end) {
  typedef int (*Start)(Main, int, char**, void (*)(void), void (*)(void), void (*)(void), void*);
  const Start next = (Start)dlsym(RTLD_NEXT, "__libc_start_main");
  real_main = main;
  return next(ArmedMain, argc, argv, init, fini, rtld_fini, stack_end);
}
