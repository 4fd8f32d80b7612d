/* String and file routines shared by the editor and the MoRvAnE script.
 * Every routine that hands back a text gives the caller a malloc'd block,
 * unless its comment says otherwise. */
#ifndef MORV_SUPPORT_FUNCTION_H
#define MORV_SUPPORT_FUNCTION_H

#include <regex.h>

/* ---- String utilities ------------------------------------------------------
 * Texts are NUL-terminated byte strings, compared byte by byte.  Each routine
 * returns a new malloc'd text that the caller frees; a null result means only
 * that an allocation failed. */

/* Returns a copy of psText in which every byte that occurs in psSet is
 * replaced by cReplace (a cReplace of 0 cuts the copy at the first replaced
 * byte).  A null or empty psText gives a new empty text; a null or empty
 * psSet gives an unchanged copy.  Null when an allocation fails. */
char *strchrpl(char const *psText, char const *psSet, char cReplace);

/* Returns a copy of the tail of psText from the first occurrence of
 * psNeedle.  A new empty text when there is none, when either argument is
 * null, when the needle is longer than the text, and for an empty needle
 * (unlike strstr, an empty needle never matches).  Null when an allocation
 * fails. */
char *ustrstr(char const *psText, char const *psNeedle);

/* Return a copy of psText with every byte mapped through tolower
 * (respectively toupper) of the current locale.  A null or empty psText gives
 * a new empty text.  Null when an allocation fails. */
char *ustrtolower(char const *psText);
char *ustrtoupper(char const *psText);

/* Returns a copy of psText; a null or empty psText gives a new empty text.
 * Null when an allocation fails. */
char *ustrcpy(char const *psText);

/* Return iValue written with "%d", respectively dValue with "%f", cut at 127
 * characters (the block holds 129 bytes).  Null when an allocation fails. */
char *uinttostr(int iValue);
char *udoubletostr(double dValue);

/* ---- Substring replacement and readability probe -------------------------- */

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

/* ---- Regular expressions, timed commands and file appender ----------------
 * Used by the script, not by the editor.  They keep their state in the globals
 * below and in function statics, all zero at program start; none of them is
 * safe to call from more than one thread. */

/* Start and end offset of the whole match of the last velregexp call that
 * matched.  Calls that do not match leave it alone. */
extern regmatch_t pmatch;

/* Owned: the error text of the last pattern that failed to compile, or null
 * after a pattern compiled.  Every compile replaces it. */
extern char *ps_velregexp_error;

/* Owned: the last result of velescaperegexp, freed by its next call. */
extern char *pPreviousBuffer;

/* Returns 1 when psText matches psPattern as a POSIX extended regular
 * expression (case-sensitive, line feeds not special), with the span of the
 * match in pmatch; 0 when it does not match.
 * A null or empty pattern or text gives 0 and changes nothing.  A pattern
 * that does not compile gives 0, puts the error's text in
 * ps_velregexp_error and prints "OOPS, Invalid regexp (<text>)" on standard
 * output; when that text cannot be allocated, ps_velregexp_error stays null
 * and nothing is printed. */
int velregexp(char const *psPattern, char const *psText);

/* Returns psText with a backslash put before every backslash and every one
 * of . ? * [ ] ( ) { } ^ $ |, so that it matches literally (the plus sign is
 * left as it is).  The result belongs to the routine (pPreviousBuffer): the
 * caller must not free it, and the next call frees it.
 * Null for a null or empty text, and when an allocation that the result
 * needs fails (never a text escaped only in part). */
char const *velescaperegexp(char const *psText);

/* Counts calls: while fewer than sCallsToPass calls have been counted since
 * the last sleep, returns the new count at once.  Otherwise restarts the
 * count, sleeps sSeconds seconds and returns what sleep returned (0, or the
 * seconds left when a signal ended the sleep).  With sCallsToPass 0 or
 * negative every call sleeps.  A negative sSeconds sleeps 0 seconds. */
int velsleep(short sSeconds, short sCallsToPass);

/* Runs "<psCommand> <psArgument>" with system() at most once per interval:
 * a call is let through when the current time minus lInterval seconds is
 * later than the time of the last call let through (at start: 0).
 * Returns the status that system() returned; -1 when the call comes too
 * soon.  A null or empty command or argument, or an interval of 0, runs
 * nothing and returns -2 when the interval had passed (the interval restarts)
 * or 0 when it had not.  -3 when the interval had passed but the command line
 * could not be allocated or would be longer than 1024 characters: nothing
 * runs and the interval has restarted. */
int velSoundCommandTimed(char const *psCommand, long lInterval, char const *psArgument);

/* Appends psText to the file psName and flushes it.  The file stays open
 * between calls with the same name; a call with another name closes it
 * first, and a call with a null name and a null text closes it for good.
 * Prints "  * Opening: <name> [<address of psName>]" on every call that
 * reaches the file, "  * Closing: ..." when it closes a remembered name.
 * Returns 1 on success, also for a null or empty text (which writes nothing
 * and prints "WriteFile(<name>) : INTERNAL ERROR"), and for the closing call.
 * Returns 0 and prints "Unable to write file <name> ; error: <reason> ." when
 * the text cannot be written or flushed (the file stays open).
 * Returns 0 and prints "ERROR: Bad File name." for an empty name or a null
 * name with a text; returns 0 and prints "Unable to open file ..." when the
 * file cannot be opened for appending (the name stays remembered, so later
 * calls with it fail the same way without trying again until another name
 * or a close comes); returns 0 without a line when the name cannot be
 * copied. */
int WriteFile(char const *psName, char *psText);

#endif
