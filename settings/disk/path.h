/* A path taken apart and followed as the kernel would: its directory and
 * last name, the path from the root, and the file its symbolic links lead
 * to, for the watch that follows a file wherever it is pointed.  A file that is worked on is
 * walked once instead (settings/disk/walk).  Knows nothing of what the
 * files hold. */
#ifndef MORV_SETTINGS_DISK_PATH_H
#define MORV_SETTINGS_DISK_PATH_H

#include <stddef.h>

/* Splits psPath into its directory ("." for a bare name, "/" for a name in
 * the root) and its last name, trailing slashes left out.  Returns 1; 0
 * when a part does not fit its buffer (uDir, uName bytes) or there is no
 * name ("/", ""). */
int SplitPath(char const *psPath, char *psDir, size_t uDir, char *psName, size_t uName);

/* Writes into psOut (uOut bytes) psPath as an absolute path, a relative
 * one joined to the current directory's, so that it names the same file
 * from any directory.  Returns 1; 0 with errno set (getcwd's error, or
 * ENAMETOOLONG when it does not fit). */
int AbsolutePath(char const *psPath, char *psOut, size_t uOut);

/* Follows symbolic links from psPath to the file they lead to, which need
 * not exist yet.  Returns a malloc'd path, or null with errno set (ELOOP
 * after 40 links, ENOMEM). */
char *FollowLinks(char const *psPath);

#endif
