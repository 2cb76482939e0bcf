/* Fault injection for tests of the real program, loaded with LD_PRELOAD.
 * It lets the program run normally except where an environment variable asks
 * for one fault:
 *   SHIM_FAIL_UPDATE  the program's own opening of a file for update ("rb+")
 *                     fails with EACCES (Shapelib's opens are left alone);
 *   SHIM_SHORT_READ   a positioned read of more than 64 KiB (point records, not
 *                     a header or its records) finds the file's end, as when
 *                     the input shrinks during the run;
 *   SHIM_MALLOC_OVER  an allocation of more bytes than this number fails, as
 *                     on a machine without the memory for it; "N-M": of more
 *                     than N bytes and at most M (one buffer of the run's);
 *   SHIM_BEFORE_OUTPUT the program's first opening of a file for writing
 *                     ("wb", its first output) waits until this shell command
 *                     has run: a second run, started while this one holds its
 *                     input and has written nothing. The variable is removed
 *                     first, so the command's own runs are not held.
 */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <unistd.h>

FILE *fopen(const char *path, const char *mode) {
    static FILE *(*real_fopen)(const char *, const char *);
    if (real_fopen == NULL) real_fopen = (FILE * (*)(const char *, const char *)) dlsym(RTLD_NEXT, "fopen");
    if (getenv("SHIM_FAIL_UPDATE") != NULL && strcmp(mode, "rb+") == 0) {
        Dl_info caller;
        if (dladdr(__builtin_return_address(0), &caller) == 0 || caller.dli_fname == NULL ||
            strstr(caller.dli_fname, "libshp") == NULL) {
            errno = EACCES;
            return NULL;
        }
    }
    const char *command = getenv("SHIM_BEFORE_OUTPUT");
    if (command != NULL && strcmp(mode, "wb") == 0) {
        char *copy = strdup(command);
        if (copy == NULL) abort();
        unsetenv("SHIM_BEFORE_OUTPUT"); /* once, and not in the command's own runs */
        if (system(copy) == -1) abort();
        free(copy);
    }
    return real_fopen(path, mode);
}

ssize_t pread(int fd, void *buffer, size_t count, off_t offset) {
    static ssize_t (*real_pread)(int, void *, size_t, off_t);
    if (real_pread == NULL) real_pread = (ssize_t(*)(int, void *, size_t, off_t))dlsym(RTLD_NEXT, "pread");
    if (getenv("SHIM_SHORT_READ") != NULL && count > (1u << 16)) return 0;
    return real_pread(fd, buffer, count, offset);
}

/* Whether SHIM_MALLOC_OVER fails an allocation of `size` bytes. Read by
 * hand: a sanitized program allocates before its runtime is ready for the
 * library's parsers or for locals whose address is taken. */
static int refused(size_t size) {
    const char *s = getenv("SHIM_MALLOC_OVER");
    if (s == NULL) return 0;
    unsigned long long over = 0, most = 0;
    while (*s >= '0' && *s <= '9') over = over * 10 + (unsigned)(*s++ - '0');
    if (*s != '-') return size > over;
    for (++s; *s >= '0' && *s <= '9'; ++s) most = most * 10 + (unsigned)(*s - '0');
    return size > over && size <= most;
}

void *malloc(size_t size) {
    static void *(*real_malloc)(size_t);
    if (real_malloc == NULL) real_malloc = (void *(*)(size_t))dlsym(RTLD_NEXT, "malloc");
    if (refused(size)) {
        errno = ENOMEM;
        return NULL;
    }
    return real_malloc(size);
}

/* operator new[](size_t, const std::nothrow_t &): a sanitized program's
 * runtime serves it without calling malloc. */
void *_ZnamRKSt9nothrow_t(size_t size, const void *tag) {
    static void *(*real_new)(size_t, const void *);
    if (real_new == NULL) real_new = (void *(*)(size_t, const void *))dlsym(RTLD_NEXT, "_ZnamRKSt9nothrow_t");
    if (refused(size)) return NULL;
    return real_new(size, tag);
}
