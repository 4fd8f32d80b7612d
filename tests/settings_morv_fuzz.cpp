/* Fuzz target for the morvrc reader (settings/morv).  Every input is read
 * as a configuration image twice, once with 4-byte time fields (the i386
 * layout) and once with 8-byte ones (the x86-64 layout), and each reading is
 * checked against:
 *   - ScanSetup, which must report the same result, version, field, offset,
 *     consumed and size without touching the store;
 *   - a small model of the format written here from the layout table, which
 *     says for every field what the store must hold afterwards (the bytes of
 *     the file, an older-file default, or the value from before the read) and
 *     where and why reading must stop;
 *   - a round trip: the store is written with EncodeSetup at the same width
 *     and read back from initial values, which must give the same settings,
 *     read whole.
 * Then the bytes are read as the editor reads a file, at the width found for
 * them, and a newer file must keep its version and its extra bytes.
 * The store is put back to its initial values after every input, so no text
 * outlives the input that made it and the leak checker sees every loss. */
#include "settings/store/morv.h"
#include "settings/morvrc/morvrc.h"

#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

#include <string>
#include <vector>

namespace {

/* Stops the run with a message; libFuzzer saves the input that did it. */
#define CHECK(cond, ...)                                                                           \
    do {                                                                                           \
        if (!(cond)) {                                                                             \
            fprintf(stderr, "settings_morv_fuzz: check failed: %s\n  ", #cond);                    \
            fprintf(stderr, __VA_ARGS__);                                                          \
            fputc('\n', stderr);                                                                   \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

const int kParserModes = 19;

/* One text as the store holds it: absent, or the bytes before its
 * terminating zero. */
struct Text {
    bool bPresent = false;
    std::string s;
    bool operator==(Text const &o) const { return bPresent == o.bPresent && s == o.s; }
};

/* The value of one field of the table: ints and times in aiValue (the array
 * uses all 19), texts in aText (a pair uses both). */
struct FieldValue {
    long long aiValue[kParserModes] = {};
    Text aText[2];
};

typedef std::vector<FieldValue> Store;

Text TextOf(char const *ps)
{
    Text t;
    if (ps != NULL) {
        t.bPresent = true;
        t.s = ps;
    }
    return t;
}

Store Snapshot()
{
    Store st(MORV_FIELD_COUNT);
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        MorvField const &f = aMorvFields[i];
        FieldValue &v = st[(size_t)i];
        switch (f.eKind) {
        case MFK_INT32:
            v.aiValue[0] = *(int *)f.pSetting;
            break;
        case MFK_TIME:
            v.aiValue[0] = (long long)*(time_t *)f.pSetting;
            break;
        case MFK_INT32_ARRAY:
            for (int k = 0; k < kParserModes; k++)
                v.aiValue[k] = ((int *)f.pSetting)[k];
            break;
        case MFK_TEXT:
            v.aText[0] = TextOf(*(char **)f.pSetting);
            break;
        case MFK_TEXT_PAIR:
            v.aText[0] = TextOf(((char **)f.pSetting)[0]);
            v.aText[1] = TextOf(((char **)f.pSetting)[1]);
            break;
        }
    }
    return st;
}

/* A store as the file can carry it: an absent text and an empty one are
 * stored alike, and a pair is stored only with both texts and a non-empty
 * first one. */
Store Canonical(Store st)
{
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        Text *pt = st[(size_t)i].aText;
        if (aMorvFields[i].eKind == MFK_TEXT && pt[0].s.empty()) {
            pt[0] = Text();
        } else if (aMorvFields[i].eKind == MFK_TEXT_PAIR &&
                   (!pt[0].bPresent || !pt[1].bPresent || pt[0].s.empty())) {
            pt[0] = pt[1] = Text();
        }
    }
    return st;
}

std::string Describe(FieldValue const &v, MorvField const &f)
{
    char ac[64];
    switch (f.eKind) {
    case MFK_TEXT:
    case MFK_TEXT_PAIR: {
        std::string s;
        for (int k = 0; k < (f.eKind == MFK_TEXT ? 1 : 2); k++)
            s += v.aText[k].bPresent ? "\"" + v.aText[k].s + "\" " : "absent ";
        return s;
    }
    case MFK_INT32_ARRAY: {
        std::string s;
        for (int k = 0; k < kParserModes; k++) {
            snprintf(ac, sizeof ac, "%lld ", v.aiValue[k]);
            s += ac;
        }
        return s;
    }
    default:
        snprintf(ac, sizeof ac, "%lld", v.aiValue[0]);
        return ac;
    }
}

void CheckSameStore(Store const &want, Store const &got, char const *psWhat, int iTimeBytes)
{
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        FieldValue const &w = want[(size_t)i], &g = got[(size_t)i];
        bool bSame = w.aText[0] == g.aText[0] && w.aText[1] == g.aText[1] &&
                     memcmp(w.aiValue, g.aiValue, sizeof w.aiValue) == 0;
        CHECK(bSame, "%s, %d-byte times: field %d (%s) is %s, expected %s", psWhat, iTimeBytes,
              aMorvFields[i].iNumber, aMorvFields[i].psName, Describe(g, aMorvFields[i]).c_str(),
              Describe(w, aMorvFields[i]).c_str());
    }
}

/* ---- The format, modelled independently of the reader ------------------ */

long long Signed(unsigned char const *p, int iBytes)
{
    uint64_t u = 0;
    for (int i = iBytes - 1; i >= 0; i--)
        u = (u << 8) | p[i];
    return iBytes == 4 ? (long long)(int32_t)(uint32_t)u : (long long)(int64_t)u;
}

struct Model {
    MorvReadInfo info;
    Store store; /* what the settings must hold afterwards */
};

/* Where a text read from the file is in the data, to check the stored block
 * byte for byte, terminator included. */
struct TextSpan {
    int iField;
    int iElement;
    size_t uAt;
    size_t uLen;
};

Model Expect(unsigned char const *p, size_t n, int iTimeBytes, Store const &before,
             std::vector<TextSpan> *pSpans)
{
    Model m;
    memset(&m.info, 0, sizeof m.info);
    m.info.llSize = (long long)n;
    m.store = before;
    size_t off = 0;
    if (n >= 4) {
        m.info.iVersion = (int)Signed(p, 4);
        off = 4;
    }
    m.info.eResult = MORV_READ_OK;
    if (m.info.iVersion < iMinimunSetupVersion) {
        m.info.eResult = MORV_READ_TOO_OLD;
        m.info.llConsumed = (long long)off;
        return m;
    }
    auto stop = [&](MorvReadResult e, int iField, size_t uAt) {
        m.info.eResult = e;
        m.info.iField = iField;
        m.info.llOffset = (long long)uAt;
    };
    for (int i = 0; i < MORV_FIELD_COUNT && m.info.eResult == MORV_READ_OK; i++) {
        MorvField const &f = aMorvFields[i];
        FieldValue &v = m.store[(size_t)i];
        size_t uLeft = n - off;
        if (m.info.iVersion < f.iFromVersion) {
            if (f.psOlderDefault != NULL)
                v.aText[0] = TextOf(f.psOlderDefault);
            continue;
        }
        switch (f.eKind) {
        case MFK_INT32:
        case MFK_TIME: {
            int iBytes = f.eKind == MFK_INT32 ? 4 : iTimeBytes;
            if (uLeft < (size_t)iBytes) {
                stop(MORV_READ_TRUNCATED, f.iNumber, off);
                break;
            }
            v.aiValue[0] = Signed(p + off, iBytes);
            off += (size_t)iBytes;
            break;
        }
        case MFK_INT32_ARRAY:
            if (uLeft < 4 * (size_t)kParserModes) {
                /* Named by the element in which the data ends. */
                stop(MORV_READ_TRUNCATED, f.iNumber, off + uLeft / 4 * 4);
                break;
            }
            for (int k = 0; k < kParserModes; k++)
                v.aiValue[k] = Signed(p + off + 4 * (size_t)k, 4);
            off += 4 * (size_t)kParserModes;
            break;
        case MFK_TEXT: {
            if (uLeft < 4) {
                stop(MORV_READ_TRUNCATED, f.iNumber, off);
                break;
            }
            long long ll = Signed(p + off, 4);
            if (ll > 0 && (unsigned long long)ll > uLeft - 4) {
                stop(MORV_READ_TRUNCATED, f.iNumber, off);
                break;
            }
            if (ll <= 0) {
                if (f.eEmpty == MER_ABSENT)
                    v.aText[0] = Text();
                off += 4;
                break;
            }
            v.aText[0] = TextOf(std::string((char const *)p + off + 4, (size_t)ll).c_str());
            pSpans->push_back({f.iNumber, 0, off + 4, (size_t)ll});
            off += 4 + (size_t)ll;
            break;
        }
        case MFK_TEXT_PAIR: {
            if (uLeft < 4) {
                stop(MORV_READ_TRUNCATED, f.iNumber, off);
                break;
            }
            long long ll0 = Signed(p + off, 4);
            if (ll0 <= 0) {
                v.aText[0] = v.aText[1] = Text();
                off += 4;
                break;
            }
            if ((unsigned long long)ll0 > uLeft - 4) {
                stop(MORV_READ_TRUNCATED, f.iNumber, off);
                break;
            }
            size_t uSecond = off + 4 + (size_t)ll0;
            size_t uLeft1 = n - uSecond;
            if (uLeft1 < 4) {
                stop(MORV_READ_TRUNCATED, f.iNumber, uSecond);
                break;
            }
            long long ll1 = Signed(p + uSecond, 4);
            if (ll1 < 0) {
                stop(MORV_READ_BAD_LENGTH, f.iNumber, uSecond);
                break;
            }
            if ((unsigned long long)ll1 > uLeft1 - 4) {
                stop(MORV_READ_TRUNCATED, f.iNumber, uSecond);
                break;
            }
            v.aText[0] = TextOf(std::string((char const *)p + off + 4, (size_t)ll0).c_str());
            v.aText[1] = TextOf(std::string((char const *)p + uSecond + 4, (size_t)ll1).c_str());
            pSpans->push_back({f.iNumber, 0, off + 4, (size_t)ll0});
            pSpans->push_back({f.iNumber, 1, uSecond + 4, (size_t)ll1});
            off = uSecond + 4 + (size_t)ll1;
            break;
        }
        }
    }
    /* Damage anywhere in a field leaves the cursor at the field's start. */
    m.info.llConsumed = (long long)off;
    return m;
}

/* ---- The settings before a read ---------------------------------------- */

/* Gives every setting a value that no file in the corpus uses, texts
 * included, so that what a read leaves alone can be told from what it
 * stored, and replacing a text must free the old one. */
void FillStore()
{
    char ac[32];
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        MorvField const &f = aMorvFields[i];
        snprintf(ac, sizeof ac, "old %d", f.iNumber);
        switch (f.eKind) {
        case MFK_INT32:
            *(int *)f.pSetting = -7000 - f.iNumber;
            break;
        case MFK_TIME:
            *(time_t *)f.pSetting = (time_t)(-7000 - f.iNumber);
            break;
        case MFK_INT32_ARRAY:
            for (int k = 0; k < kParserModes; k++)
                ((int *)f.pSetting)[k] = -7100 - k;
            break;
        case MFK_TEXT:
            free(*(char **)f.pSetting);
            *(char **)f.pSetting = strdup(ac);
            break;
        case MFK_TEXT_PAIR:
            for (int k = 0; k < 2; k++) {
                free(((char **)f.pSetting)[k]);
                ((char **)f.pSetting)[k] = strdup(ac);
            }
            break;
        }
    }
}

bool SameInfo(MorvReadInfo const &a, MorvReadInfo const &b)
{
    return a.eResult == b.eResult && a.iVersion == b.iVersion && a.iField == b.iField &&
           a.llOffset == b.llOffset && a.llConsumed == b.llConsumed && a.llSize == b.llSize;
}

std::string InfoText(MorvReadInfo const &i)
{
    char ac[160];
    snprintf(ac, sizeof ac, "result %d version %d field %d offset %lld consumed %lld size %lld",
             (int)i.eResult, i.iVersion, i.iField, i.llOffset, i.llConsumed, i.llSize);
    return ac;
}

/* The stored block of the text of field iField, element iElement. */
char const *StoredText(int iField, int iElement)
{
    for (int i = 0; i < MORV_FIELD_COUNT; i++)
        if (aMorvFields[i].iNumber == iField)
            return aMorvFields[i].eKind == MFK_TEXT ? *(char **)aMorvFields[i].pSetting
                                                    : ((char **)aMorvFields[i].pSetting)[iElement];
    return NULL;
}

void CheckOneWidth(unsigned char const *p, size_t n, int iTimeBytes, bool bFilled)
{
    ResetSettings();
    if (bFilled)
        FillStore();
    Store before = Snapshot();

    /* The walk without storing must agree and leave the store alone. */
    MorvReadInfo scan;
    MorvReadResult eScan = ScanSetup(p, n, iTimeBytes, &scan);
    CHECK(eScan == scan.eResult, "ScanSetup returned %d but recorded %d", (int)eScan, (int)scan.eResult);
    CheckSameStore(before, Snapshot(), "ScanSetup changed the store", iTimeBytes);

    MorvReadInfo read;
    MorvReadResult eRead = DecodeSetup(p, n, iTimeBytes, &read);
    CHECK(eRead == read.eResult, "DecodeSetup returned %d but recorded %d", (int)eRead, (int)read.eResult);
    CHECK(SameInfo(scan, read), "%d-byte times: scan %s, read %s", iTimeBytes, InfoText(scan).c_str(),
          InfoText(read).c_str());
    CHECK(read.llConsumed >= 0 && read.llConsumed <= (long long)n, "consumed %lld of %zu bytes",
          read.llConsumed, n);

    std::vector<TextSpan> spans;
    Model m = Expect(p, n, iTimeBytes, before, &spans);
    CHECK(SameInfo(m.info, read), "%d-byte times: read %s, expected %s", iTimeBytes, InfoText(read).c_str(),
          InfoText(m.info).c_str());
    Store after = Snapshot();
    CheckSameStore(m.store, after, "after DecodeSetup", iTimeBytes);
    /* Every text taken from the file is its n bytes and a terminator, in a
     * block the sanitizer knows to be n + 1 bytes or more. */
    for (TextSpan const &t : spans) {
        char const *ps = StoredText(t.iField, t.iElement);
        CHECK(ps != NULL, "field %d text %d absent", t.iField, t.iElement);
        CHECK(memcmp(ps, p + t.uAt, t.uLen) == 0 && ps[t.uLen] == '\0',
              "field %d text %d differs from the file's %zu bytes", t.iField, t.iElement, t.uLen);
    }

    /* Round trip: what the store holds now must survive being written and
     * read back from initial values. */
    unsigned char *pImage = NULL;
    size_t uImage = 0;
    MorvLayout layoutAtWidth = {iTimeBytes, 0, NULL, 0};
    CHECK(EncodeSetupImage(&layoutAtWidth, &pImage, &uImage) == 1, "EncodeSetupImage failed at %d-byte times", iTimeBytes);
    std::vector<unsigned char> image(pImage, pImage + uImage);
    free(pImage);
    ResetSettings();
    MorvReadInfo again;
    CHECK(ScanSetup(image.data(), image.size(), iTimeBytes, &again) == MORV_READ_OK &&
              again.llConsumed == (long long)image.size(),
          "the written image scans as %s", InfoText(again).c_str());
    CHECK(DecodeSetup(image.data(), image.size(), iTimeBytes, &again) == MORV_READ_OK &&
              again.llConsumed == (long long)image.size() && again.iVersion == iSetupVersion,
          "the written image reads as %s", InfoText(again).c_str());
    CheckSameStore(Canonical(after), Canonical(Snapshot()), "after the round trip", iTimeBytes);
    ResetSettings();
}

/* The bytes as the editor takes a file: read at the width at which they
 * read whole (this build's when both do, the one that reads further when
 * neither does), whole exactly when the
 * walk at that width ends well, and a newer file's bytes after the known
 * fields kept and written back after them under its own version word. */
void CheckAsAFile(unsigned char const *p, size_t n)
{
    if (n > MORV_MAX_FILE)
        return;
    const int iNative = (int)sizeof(time_t), iOther = 12 - iNative;
    MorvReadInfo native, other;
    ScanSetup(p, n, iNative, &native);
    ScanSetup(p, n, iOther, &other);
    /* Whole at neither: the width at which this program's reading goes
     * further, this build's on a tie; reading as the store would, a time
     * value that this build cannot hold ends it. */
    MorvReadInfo reach;
    ResetSettings();
    DecodeSetup(p, n, iOther, &reach);
    ResetSettings();
    MorvSnapshot snap = {1, const_cast<unsigned char *>(p), n, (long long)n, 0, 0};
    MorvLoadReport r;
    MorvLayout layout = {0, 0, NULL, 0};
    MorvOutcome e = DecodeFile(&snap, 0, &r, &layout);
    int iWant = ImageIsWhole(&native)                  ? iNative
                : ImageIsWhole(&other)                 ? iOther
                : reach.llConsumed > native.llConsumed ? iOther
                                                       : iNative;
    CHECK(r.iTimeBytes == iWant && layout.iTimeBytes == iWant, "read at %d bytes, not %d", r.iTimeBytes,
          iWant);
    CHECK((e == MORV_WHOLE) == (r.info.eResult == MORV_READ_OK), "outcome %d after %s", (int)e,
          InfoText(r.info).c_str());
    if (e == MORV_WHOLE && r.iVersion > iSetupVersion) {
        size_t uTail = n - (size_t)r.info.llConsumed;
        CHECK(layout.uTail == uTail && memcmp(layout.pTail, p + r.info.llConsumed, uTail) == 0,
              "kept %zu bytes of a %zu-byte tail", layout.uTail, uTail);
        unsigned char *pImage = NULL;
        size_t uImage = 0;
        if (EncodeSetupImage(&layout, &pImage, &uImage)) {
            CHECK(uImage >= uTail + 4 && memcmp(pImage, p, 4) == 0 &&
                      memcmp(pImage + uImage - uTail, p + r.info.llConsumed, uTail) == 0,
                  "a newer file is not written back with its version and its tail");
            free(pImage);
        }
    }
    FreeLayout(&layout);
    ResetSettings();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const *pData, size_t uSize)
{
    /* The same bytes in both layouts: 4-byte times over a store that holds
     * a value everywhere, 8-byte times over the initial values. */
    CheckOneWidth(pData, uSize, 4, true);
    CheckOneWidth(pData, uSize, 8, false);
    CheckAsAFile(pData, uSize);
    return 0;
}
