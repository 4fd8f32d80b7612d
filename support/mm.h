/* The message catalogue: the script's user-facing texts by number (0 to
 * 9999), loaded from "morv_<language>.msg" in the script's directory. A
 * second language is laid over the first, number by number. */
#ifndef MORV_SUPPORT_MM_H
#define MORV_SUPPORT_MM_H

#define MESSAGE_SLOTS 10002     /* numbers 0 to 9999; the last two are spare */

/* Slot n owns the text of message n once it has been decoded, which
 * GetMessage does when the number is first asked for; until then the text
 * lies in its file and the slot is null, as is the slot of a number without
 * a text.  Written by the catalogue alone. */
extern char *apsMessageArray[MESSAGE_SLOTS];

/* The current message: the last text returned by GetMessage or being
 * decoded, and after a load the text of the last message line it stored.
 * Owns nothing. */
extern char *psMessagePointer;

/* 1 once a LoadMessageFile call has read a file to its end. */
extern short ssFlagAlredyLoaded;

/* 1: LoadMessageFile prints nothing, for a program whose standard output
 * is its answer (morvrc_tool describe); 0, the default, prints as the
 * script and the editor do. */
extern int bQuietLoad;

/* Loads the message file of psLanguage over the catalogue: every number it
 * defines replaces the stored text, every other number keeps its text.
 * The file is read once, noting where each text lies; a file that can be
 * read again at an offset stays open while it holds a text not yet asked
 * for (one that cannot, or a ninth such file, has its texts decoded at
 * once).  Prints its progress and per-line warnings on standard output,
 * unless bQuietLoad.
 * Returns 1 when the file was read to its end; 0 for a null or empty name, a
 * path that would not fit its buffer, a file that cannot be opened, or a
 * file with 10000 numbered lines (the texts stored so far stay). */
int LoadMessageFile(char const *psLanguage);

/* The language that the configured one is laid over. */
#define BASE_LANGUAGE "italiano"

/* The message files a program loads, in order, for the configured language
 * psConfigured (psMessageLanguage): k = 0 gives BASE_LANGUAGE; k = 1 gives
 * psConfigured when it names another language, compared ignoring ASCII
 * case; every other k, and a null or base language at k = 1, give null. */
char const *LanguageToLoad(int k, char const *psConfigured);

/* Returns the text of message iNumber, never null.  The first ask reads the
 * text from its file and decodes it into the number's slot, where later asks
 * find it.  A number out of range or without a text, a text that cannot be
 * allocated (it is read again at the next ask) and the text of a file that
 * has been rewritten in place since its load give a warning text held in
 * one buffer of the catalogue, valid until the next such call.  The caller
 * must not change or free it. */
char const *GetMessage(int iNumber);

/* The text of message iNumber as GetMessage would first give it, but not
 * wrapped at 80 columns: the text as the message file holds it, its
 * escapes resolved, read again from its file, before or after GetMessage.
 * Returns a malloc'd text; null when the number has no text, its file has
 * been rewritten in place since its load or could not be kept open (its
 * texts were then decoded at load), or memory runs out. */
char *MessageBeforeWrap(int iNumber);

/* Frees every stored text, closes the files kept open and empties the
 * catalogue. */
void FlushMessage(void);

/* Replaces in place every psPattern in the current message by psReplace,
 * resuming the search after each replacement.  Returns the number of
 * replacements; 0 for a null or empty pattern or message, a null
 * replacement, equal texts, or a replacement longer than the pattern (the
 * text is rewritten in place and may only shrink). */
int local_ustrfindreplace(char const *psPattern, char const *psReplace);

#endif
