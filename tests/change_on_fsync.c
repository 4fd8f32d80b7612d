/* Preloaded into morvrc_tool by its tests: the first fsync the tool makes
 * first appends a byte to the file named by MORV_CHANGE_ON_FSYNC, as another
 * program that writes that file at the worst moment would; with
 * MORV_FAIL_CLOSE_AFTER_FSYNC set, the close of a file synced successfully
 * fails with EIO, as a write error the kernel reports late would. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <errno.h>
#include <fcntl.h>
#include <stdlib.h>
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
