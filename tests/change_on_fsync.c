/* Preloaded into morvrc_tool by its tests: the first fsync the tool makes
 * first appends a byte to the file named by MORV_CHANGE_ON_FSYNC, as another
 * program that writes that file at the worst moment would. */
#define _GNU_SOURCE
#include <dlfcn.h>
#include <fcntl.h>
#include <stdlib.h>
#include <unistd.h>

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
    return pfReal(fd);
}
