/* Temporary files made beside the file they are to become, and writes that
 * go on until every byte is down.  A save's new file and a history's new
 * version are both made this way.  Knows nothing of what the files hold.
 *
 *   int fd = MakeTemporary(fdDir, "morvrc", acTemp, sizeof acTemp);
 *   WriteAllAt(fd, pData, uSize, 0, &uDone) && fsync(fd) == 0
 *   ... renameat(fdDir, acTemp, ...), or unlinkat(fdDir, acTemp, 0) on failure
 */
#ifndef MORV_SETTINGS_DISK_TEMPFILE_H
#define MORV_SETTINGS_DISK_TEMPFILE_H

#include <stddef.h>
#include <sys/types.h>

/* What follows the name in a temporary file's name; the X's are made
 * unique. */
#define TEMP_SUFFIX ".tmp-XXXXXX"

/* Makes a new file, mode 0600, named psName TEMP_SUFFIX in the directory
 * on fdDir, never through a link, its name into acTemp (uTemp bytes).
 * Returns the descriptor, open for reading and writing, or -1 with errno
 * set (ENAMETOOLONG when the name does not fit acTemp). */
int MakeTemporary(int fdDir, char const *psName, char *acTemp, size_t uTemp);

/* Writes all n bytes at p to fd at offset llAt, again after an
 * interruption; *puDone counts the bytes written.  Returns 1, or 0 with
 * errno set. */
int WriteAllAt(int fd, unsigned char const *p, size_t n, off_t llAt, size_t *puDone);

#endif
