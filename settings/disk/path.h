/* A path taken apart and followed as the kernel would: its directory and
 * last name, the file its symbolic links lead to, and its directory opened
 * for the *at calls.  Knows nothing of what the files hold. */
#ifndef MORV_SETTINGS_DISK_PATH_H
#define MORV_SETTINGS_DISK_PATH_H

#include <stddef.h>

/* Splits psPath into its directory ("." for a bare name, "/" for a name in
 * the root) and its last name, trailing slashes left out.  Returns 1; 0
 * when a part does not fit its buffer (uDir, uName bytes) or there is no
 * name ("/", ""). */
int SplitPath(char const *psPath, char *psDir, size_t uDir, char *psName, size_t uName);

/* Follows symbolic links from psPath to the file they lead to, which need
 * not exist yet.  Returns a malloc'd path, or null with errno set (ELOOP
 * after 40 links, ENOMEM). */
char *FollowLinks(char const *psPath);

/* Opens the directory of psTarget (a path whose last component is no link
 * to follow) for the *at calls, and points *ppsName at the last component
 * within psTarget.  A directory that cannot be read is opened as a path
 * alone (O_PATH), good for names but not for listing, syncing or a lock.
 * Returns the descriptor, or -1 with errno set (EISDIR when psTarget names
 * no file in a directory, such as "/" or "dir/"). */
int OpenDirectoryOf(char const *psTarget, char const **ppsName);

#endif
