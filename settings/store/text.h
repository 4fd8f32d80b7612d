/* Texts as people read and type them: C-quoted with escapes, JSON
 * strings, UTF-8 checked, decimal integers read strictly, words for the
 * shell.  Knows nothing of the settings. */
#ifndef MORV_SETTINGS_STORE_TEXT_H
#define MORV_SETTINGS_STORE_TEXT_H

#include <stddef.h>
#include <stdint.h>

/* Escapes by name: the byte and the letter after the backslash.  QuoteText
 * writes the first TEXT_ESCAPES_WRITTEN of them; a reader also takes the
 * rest (\' and \?). */
struct TextEscape {
    char cByte;
    char cLetter;
};
#define TEXT_ESCAPES 11
#define TEXT_ESCAPES_WRITTEN 9
extern const struct TextEscape aTextEscapes[TEXT_ESCAPES];

/* Quotes a text with C escapes so that every byte is visible: printable
 * ASCII and the characters of valid UTF-8 from U+00A0 on as themselves,
 * \" \\ \a \b \f \n \r \t \v by name, every other byte (control bytes, bytes
 * of invalid sequences) as a three-digit octal escape.  A null text gives "absent", unquoted.
 * Returns a malloc'd text, or null when memory runs out. */
char *QuoteText(char const *ps);

/* Reads a text quoted as QuoteText writes it, or as a C string literal
 * would be (\x escapes, octal escapes of one to three digits, \' and \?).
 * Returns 1 with a malloc'd text in *ppsText, or 0 with the reason in
 * psError: no closing quote, anything after it, an unknown escape, an escape
 * beyond 255, a zero byte (a stored text ends at one), or no memory. */
int UnquoteText(char const *psQuoted, char **ppsText, char *psError, size_t uError);

/* Reads a decimal integer: an optional sign, then digits only.
 * Returns 1 with *pllValue set, or 0 when psText is not one or lies outside
 * llMin to llMax. */
int ParseDecimal(char const *psText, long long llMin, long long llMax, long long *pllValue);

/* Returns the length of the UTF-8 sequence at p (n bytes left), or 0 when
 * none starts there (not the shortest form, a surrogate, beyond U+10FFFF);
 * *puCode gets its code point. */
size_t Utf8Sequence(unsigned char const *p, size_t n, uint32_t *puCode);

/* Whether the n bytes at p are valid UTF-8 (shortest forms, no surrogates,
 * nothing beyond U+10FFFF). */
int IsUtf8(char const *p, size_t n);

/* Writes a text as JSON.  A text that is valid UTF-8 becomes a string of
 * its characters, with \" \\ \b \f \n \r \t by name and the other control
 * characters (below 0x20, and 0x7f) as \u00XX.  Any other text becomes
 * {"bytes": "..."}, a string in which each character, U+0000 to U+00FF, is
 * one byte of the text.  A null text gives null.
 * Returns a malloc'd text, or null when memory runs out. */
char *JsonText(char const *ps);

/* The text ps with its control bytes escaped as QuoteText escapes them
 * (\n, \t and \r by name, the others as three octal digits) and every
 * other byte as it is, unquoted: one line that puts nothing raw on a
 * terminal.  Returns a malloc'd text, or null when memory runs out. */
char *EscapeControls(char const *ps);

/* Whether psText holds psWord, ASCII letters compared without case and a
 * blank, a tab and a line feed taken as one another (a text wrapped for
 * display still holds its words).  An empty word is in every text, a null
 * text holds none. */
int ContainsWord(char const *psText, char const *psWord);

/* Returns the value of hex digit c, or -1 for any other character. */
int HexDigit(char c);

/* Writes psText into psOut (uOut bytes, cut to fit) as one word for the
 * shell: as it is when it holds nothing the shell reads otherwise, else in
 * single quotes. */
void ShellWord(char const *psText, char *psOut, size_t uOut);

/* Returns the length of the UTF-8 byte-order mark that some editors put
 * at the start of a file, when the uSize bytes at pText begin with one;
 * 0 otherwise. */
size_t ByteOrderMark(char const *pText, size_t uSize);

/* A text built piece by piece (AddText), then taken whole (TakeText);
 * start it empty: struct MorvText t = {NULL, 0, 0, 0}. */
struct MorvText {
    char *p;
    size_t uLen, uCap;
    int bFailed;   /* 1 once memory ran out: the text is then lost */
};

/* Adds the text psFormat makes to *pt.  Returns nothing: memory that runs
 * out is told by TakeText. */
void AddText(struct MorvText *pt, char const *psFormat, ...) __attribute__((format(printf, 2, 3)));

/* Returns the text built in *pt (malloc'd, never null when it succeeds; its
 * length in *puLen when puLen is not null) and empties *pt; null when
 * memory ran out on the way, everything then freed. */
char *TakeText(struct MorvText *pt, size_t *puLen);

#endif
