/* Preloaded into morvrc_tool by its tests: the first fsync the tool makes
 * first appends a byte to the file named by MORV_CHANGE_ON_FSYNC, as another
 * program that writes that file at the worst moment would; with
 * MORV_FAIL_CLOSE_AFTER_FSYNC set, the close of a file synced successfully
 * fails with EIO, as a write error the kernel reports late would; with
 * MORV_DIE_IN_PWRITE set, the first pwrite of a rewrite in place (to a
 * file that is no temporary one, NAME.tmp-XXXXXX or a history's
 * .tmp-XXXXXX) writes half its bytes and the process dies, as one killed
 * part way would; every read
 * of the file MORV_EIO_ON_READ names fails with EIO, as a bad disk's. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>

/* The descriptor last synced successfully, or -1. */
static int fdSynced = -1;

int fsync(int fd)
{
    static int bChanged = 0;
    char const *psPath = getenv("MORV_CHANGE_ON_FSYNC");
    if (psPath != NULL && !bChanged) {
        bChanged = 1;
        int fdOther = open(psPath, O_WRONLY | O_APPEND);
        if (fdOther >= 0) {
            if (write(fdOther, "!", 1) != 1)
                bChanged = 0;
            close(fdOther);
        }
    }
    int (*pfReal)(int) = (int (*)(int))dlsym(RTLD_NEXT, "fsync");
    int iResult = pfReal(fd);
    if (iResult == 0)
        fdSynced = fd;
    return iResult;
}

int close(int fd)
{
    int (*pfReal)(int) = (int (*)(int))dlsym(RTLD_NEXT, "close");
    int iResult = pfReal(fd);
    if (fd == fdSynced && getenv("MORV_FAIL_CLOSE_AFTER_FSYNC") != NULL) {
        fdSynced = -1;
        errno = EIO;
        return -1;
    }
    return iResult;
}

/* Writes half of what pwrite or pwrite64 was given, then ends the process
 * without a word, when MORV_DIE_IN_PWRITE is set.  Returns 0 when it is
 * not. */
static int DieHalfWay(int fd, void const *p, size_t n, long long llAt)
{
    if (getenv("MORV_DIE_IN_PWRITE") == NULL)
        return 0;
    char acLink[64], acPath[4096];
    snprintf(acLink, sizeof acLink, "/proc/self/fd/%d", fd);
    ssize_t lPath = readlink(acLink, acPath, sizeof acPath - 1);
    acPath[lPath > 0 ? lPath : 0] = '\0';
    if (strstr(acPath, ".tmp-") != NULL)
        return 0;
    ssize_t (*pfReal)(int, void const *, size_t, long long) =
        (ssize_t (*)(int, void const *, size_t, long long))dlsym(RTLD_NEXT, "pwrite64");
    if (pfReal(fd, p, n / 2, llAt) < 0)
        _exit(10);
    _exit(9);
}

/* Both symbols, whatever off_t this file is built with: pwrite takes a
 * long, pwrite64 a long long.  The C names differ from the symbols so that
 * no declaration of the headers is met. */
ssize_t MorvPwrite(int fd, void const *p, size_t n, long lAt) __asm__("pwrite");
ssize_t MorvPwrite(int fd, void const *p, size_t n, long lAt)
{
    DieHalfWay(fd, p, n, lAt);
    ssize_t (*pfReal)(int, void const *, size_t, long) =
        (ssize_t (*)(int, void const *, size_t, long))dlsym(RTLD_NEXT, "pwrite");
    return pfReal(fd, p, n, lAt);
}

ssize_t MorvPwrite64(int fd, void const *p, size_t n, long long llAt) __asm__("pwrite64");
ssize_t MorvPwrite64(int fd, void const *p, size_t n, long long llAt)
{
    DieHalfWay(fd, p, n, llAt);
    ssize_t (*pfReal)(int, void const *, size_t, long long) =
        (ssize_t (*)(int, void const *, size_t, long long))dlsym(RTLD_NEXT, "pwrite64");
    return pfReal(fd, p, n, llAt);
}

ssize_t read(int fd, void *p, size_t n)
{
    char const *psPath = getenv("MORV_EIO_ON_READ");
    struct stat stFile, stRead;
    if (psPath != NULL && stat(psPath, &stFile) == 0 && fstat(fd, &stRead) == 0 &&
        stFile.st_dev == stRead.st_dev && stFile.st_ino == stRead.st_ino) {
        errno = EIO;
        return -1;
    }
    ssize_t (*pfReal)(int, void *, size_t) = (ssize_t (*)(int, void *, size_t))dlsym(RTLD_NEXT, "read");
    return pfReal(fd, p, n);
}
