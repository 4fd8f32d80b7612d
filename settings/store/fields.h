/* The stored settings as a table: every field of morvrc in file order, its
 * kind, the setting it fills and the format version it first appears in,
 * with the store's values at program load and its built-in text defaults.
 * Both the reader and the writer of the file, and every name people type,
 * walk this one table. */
#ifndef MORV_SETTINGS_STORE_FIELDS_H
#define MORV_SETTINGS_STORE_FIELDS_H

#include <stddef.h>
#include <time.h>

/* The width of this build's time values, in bytes: 4 on i386, 8 on x86-64. */
#define NATIVE_TIME_BYTES ((int)sizeof(time_t))

enum MorvFieldKind {
    MFK_INT32,       /* 4 bytes, little-endian, signed */
    MFK_TIME,        /* 4 or 8 bytes (the writer's time_t), little-endian, signed */
    MFK_TEXT,        /* int32 length n, then n bytes, no terminator */
    MFK_TEXT_PAIR,   /* both texts, or a single int32 0 */
    MFK_INT32_ARRAY  /* the 19 elements of iFlagParserMode */
};

/* What a stored length of 0 or less does to a single text. */
enum MorvEmptyRule {
    MER_ABSENT,      /* the setting becomes null */
    MER_UNCHANGED    /* the setting keeps its value */
};

/* One field of morvrc.  Field 1, the version word, is not in the table. */
struct MorvField {
    int iNumber;                 /* field number, 2 to 57 */
    char const *psName;          /* the setting's name */
    enum MorvFieldKind eKind;
    int iFromVersion;            /* first format version that holds it; 0: every file */
    void *pSetting;              /* int*, time_t*, char** (pairs: char*[2]) or int[19] */
    enum MorvEmptyRule eEmpty;   /* single texts only */
    char const *psOlderDefault;  /* single texts only: installed when the file predates
                                    the field, or there is no file; null: none */
    char const *psAbsentDefault; /* single texts only: installed after every reading
                                    that left the text absent; null: none */
};

#define MORV_FIELD_COUNT 56
extern const struct MorvField aMorvFields[MORV_FIELD_COUNT];

/* What a kind of field is in memory: the bytes its setting takes (0 for
 * the texts), the items it stores (ItemCount) and the bytes between two of
 * them; by MorvFieldKind. */
struct MorvKind {
    size_t uBytes;
    int iItems;
    size_t uItem;
};
extern const struct MorvKind aMorvKinds[MFK_INT32_ARRAY + 1];

/* Returns the bytes that the setting of a non-text field takes in memory
 * (an int, a time_t, the 19 ints of iFlagParserMode); 0 for a text. */
size_t FieldBytes(struct MorvField const *pf);

/* Returns the texts that the setting of a field is made of: 1 for a text,
 * 2 for a pair, 0 for the others.  They lie at (char **)pf->pSetting. */
int FieldTexts(struct MorvField const *pf);

/* Writes into psOut (uOut bytes, cut to fit) the name of element iElement
 * of aMorvFields[iIndex]: "iMaxCloneCount" (iElement -1),
 * "psFlagChanJoinBeep[1]", "iFlagParserMode[NOTICE]". */
void SettingName(int iIndex, int iElement, char *psOut, size_t uOut);

/* Returns the number of the last field of the table, the last that this
 * program knows: a newer file's fields follow it. */
int LastFieldNumber(void);

/* Gives every stored setting back its value at program load and frees
 * every stored text (all texts are absent at load).  Cannot fail. */
void ResetStore(void);

/* Installs the built-in text defaults where those texts are absent: with
 * bNoFile (no file could be read at all) first each text's older-file
 * default ("/ECHO ", "ALSA", "/MSG NickServ Identify"), then in every case
 * "italiano", "_AWAY" and an empty pipe command.  A default that cannot be
 * allocated leaves its text absent. */
void InstallTextDefaults(int bNoFile);

#endif
