/* Preloaded into the Wine process of a test: the disk fills up, or the
 * process is killed, once a given number of bytes has been written to the
 * files a test names, so that a replacement of the installed package can be
 * caught half-way on Windows' own file calls as Wine runs them.
 *
 *   QLT_LIMIT_FOLDER   native folder whose files count
 *   QLT_LIMIT_NAMES    names in that folder that count, separated by '/':
 *                      an exact name, or a prefix ending in '*'
 *   QLT_LIMIT_BYTES    bytes that still go through, in all
 *   QLT_LIMIT_ACTION   "full" (ENOSPC from then on) or "kill" (SIGKILL)
 *
 * Built for the host with the host's compiler; used only by tests. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <limits.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/types.h>
#include <sys/uio.h>
#include <unistd.h>

static long long written;

static int name_counts(const char *name, const char *names) {
    while (*names) {
        const char *end = strchr(names, '/');
        size_t length = end ? (size_t)(end - names) : strlen(names);
        if (length > 0 && names[length - 1] == '*') {
            if (strncmp(name, names, length - 1) == 0)
                return 1;
        } else if (length == strlen(name) && strncmp(name, names, length) == 0) {
            return 1;
        }
        names += length + (end ? 1 : 0);
    }
    return 0;
}

static int counts(int fd) {
    const char *folder = getenv("QLT_LIMIT_FOLDER");
    const char *names = getenv("QLT_LIMIT_NAMES");
    if (!folder || !names)
        return 0;
    char link[64], target[PATH_MAX];
    snprintf(link, sizeof link, "/proc/self/fd/%d", fd);
    ssize_t length = readlink(link, target, sizeof target - 1);
    if (length <= 0)
        return 0;
    target[length] = 0;
    size_t folderLength = strlen(folder);
    return strncmp(target, folder, folderLength) == 0 && target[folderLength] == '/' &&
           !strchr(target + folderLength + 1, '/') &&
           name_counts(target + folderLength + 1, names);
}

/* How much of `count` may go through: all of it, part of it, or nothing
 * (-1, errno set), once the limit is reached. */
static ssize_t allowed(int fd, size_t count) {
    if (!counts(fd))
        return (ssize_t)count;
    const char *limitText = getenv("QLT_LIMIT_BYTES");
    long long limit = limitText ? atoll(limitText) : 0;
    if (written + (long long)count <= limit) {
        written += (long long)count;
        return (ssize_t)count;
    }
    const char *action = getenv("QLT_LIMIT_ACTION");
    long long left = limit - written;
    if (left > 0) {
        written = limit;
        return (ssize_t)left;
    }
    if (action && strcmp(action, "kill") == 0)
        kill(getpid(), SIGKILL);
    errno = ENOSPC;
    return -1;
}

ssize_t write(int fd, const void *buffer, size_t count) {
    static ssize_t (*real)(int, const void *, size_t);
    if (!real)
        real = (ssize_t (*)(int, const void *, size_t))dlsym(RTLD_NEXT, "write");
    ssize_t go = allowed(fd, count);
    return go < 0 ? -1 : real(fd, buffer, (size_t)go);
}

ssize_t pwrite(int fd, const void *buffer, size_t count, off_t offset) {
    static ssize_t (*real)(int, const void *, size_t, off_t);
    if (!real)
        real = (ssize_t (*)(int, const void *, size_t, off_t))dlsym(RTLD_NEXT, "pwrite");
    ssize_t go = allowed(fd, count);
    return go < 0 ? -1 : real(fd, buffer, (size_t)go, offset);
}

ssize_t pwrite64(int fd, const void *buffer, size_t count, off64_t offset) {
    static ssize_t (*real)(int, const void *, size_t, off64_t);
    if (!real)
        real = (ssize_t (*)(int, const void *, size_t, off64_t))dlsym(RTLD_NEXT, "pwrite64");
    ssize_t go = allowed(fd, count);
    return go < 0 ? -1 : real(fd, buffer, (size_t)go, offset);
}
