/* String and file routines shared by the editor and the MoRvAnE script.
 * Every routine that hands back a text gives the caller a malloc'd block,
 * unless its comment says otherwise. */
#ifndef MORV_SUPPORT_FUNCTION_H
#define MORV_SUPPORT_FUNCTION_H

/* Replaces occurrences of psFind in the malloc'd text *ppsText by psReplace,
 * at most uiMax of them (0: all; at most 4096 are accepted).  All positions
 * are taken from the old text, so a replacement that contains psFind is
 * never searched again.
 * Returns the number of replacements.  On 0 (nothing found, a refused call,
 * or an allocation failure) *ppsText is left exactly as it was; otherwise the
 * old block is freed and *ppsText points at the new one. */
int ustrfindreplace_r(char **ppsText, char const *psFind, char const *psReplace,
                      unsigned int uiMax);

/* ustrfindreplace_r with no maximum. */
int ustrfindreplace(char **ppsText, char const *psFind, char const *psReplace);

/* Returns 1 when psPath can be opened with the fopen mode psMode, else 0
 * (also for a null or empty path).  After a failed open errno tells why.
 * The probe opens for real: a write or append mode creates the file. */
int velDeviceReady(char const *psPath, char const *psMode);

#endif
