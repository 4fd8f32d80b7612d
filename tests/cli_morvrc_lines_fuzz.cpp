/* Fuzz target for the "name = value" lines that morvrc_tool's load reads
 * (settings/morvrc/lines): text that users paste and edit.  Every input is
 * applied to a store of initial values twice, for 4-byte and for 8-byte
 * time fields, and each run is checked:
 *   - a refusal names a line that the input has (1 to its number of lines)
 *     and gives a reason;
 *   - after success every text pair can be stored, and with 4-byte time
 *     fields every time value fits 32 bits;
 *   - a round trip: the store's dump (dump's own lines for every item)
 *     applied to a store of initial values is taken whole and gives the same
 *     dump line for line and the same morvrc image.
 * The store is put back to its initial values after every input, so no text
 * outlives the input that made it and the leak checker sees every loss. */
#include "settings/store/morv.h"
#include "settings/morvrc/morvrc.h"
#include "settings/store/items.h"
#include "settings/morvrc/lines.h"

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
            fprintf(stderr, "cli_morvrc_lines_fuzz: check failed: %s\n  ", #cond);               \
            fprintf(stderr, __VA_ARGS__);                                                          \
            fputc('\n', stderr);                                                                   \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

/* The number of lines in the input: every line feed ends one, and text
 * after the last line feed is one more. */
int CountLines(char const *p, size_t n)
{
    int iLines = 0;
    for (size_t i = 0; i < n; i++)
        if (p[i] == '\n')
            iLines++;
    if (n > 0 && p[n - 1] != '\n')
        iLines++;
    return iLines;
}

/* The store as dump prints it for a whole file of this version. */
std::string Dump()
{
    MorvReadInfo info;
    memset(&info, 0, sizeof info);
    info.iVersion = iSetupVersion;
    char *psText = FormatDump(&info, 1, NULL);
    CHECK(psText != NULL, "no dump: out of memory");
    std::string s = psText;
    free(psText);
    return s;
}

/* The store's image with iTimeBytes-wide time fields; empty when the store
 * cannot be written (a file longer than a morvrc may be). */
std::vector<unsigned char> Image(int iTimeBytes)
{
    unsigned char *p = NULL;
    size_t n = 0;
    MorvLayout layoutAtWidth = {iTimeBytes, 0, NULL, 0};
    if (!EncodeSetupImage(&layoutAtWidth, &p, &n))
        return {};
    std::vector<unsigned char> v(p, p + n);
    free(p);
    return v;
}

/* Applies the input to a store of initial values at iTimeBytes and checks
 * the outcome; a failed check ends the run. */
void RunAt(char const *pText, size_t uSize, int iTimeBytes)
{
    ResetSettings();
    int iLine = -1;
    char acWhy[512] = "";
    if (!ApplySettingLines(pText, uSize, iTimeBytes, &iLine, acWhy, sizeof acWhy, NULL)) {
        int iLines = CountLines(pText, uSize);
        CHECK(iLine >= 1 && iLine <= iLines, "refused at line %d of %d: %s", iLine, iLines, acWhy);
        CHECK(acWhy[0] != '\0', "refused at line %d without a reason", iLine);
        ResetSettings();
        return;
    }
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        MorvField const &f = aMorvFields[i];
        char acPair[256];
        if (f.eKind == MFK_TEXT_PAIR)
            CHECK(PairIsStorable(i, acPair, sizeof acPair), "taken, but %s", acPair);
        if (f.eKind == MFK_TIME && iTimeBytes == 4) {
            long long ll = (long long)*(time_t *)f.pSetting;
            CHECK(ll >= INT32_MIN && ll <= INT32_MAX, "%s = %lld taken for 32-bit fields", f.psName, ll);
        }
    }

    std::string first = Dump();
    std::vector<unsigned char> firstImage = Image(iTimeBytes);
    ResetSettings();
    CHECK(ApplySettingLines(first.data(), first.size(), iTimeBytes, &iLine, acWhy, sizeof acWhy, NULL),
          "the dump of what was taken is refused at line %d: %s\n%s", iLine, acWhy, first.c_str());
    std::string second = Dump();
    CHECK(first == second, "the dump read back differs:\n%s\n---\n%s", first.c_str(), second.c_str());
    CHECK(firstImage == Image(iTimeBytes), "the images differ after the round trip");
    ResetSettings();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(uint8_t const *pData, size_t uSize)
{
    char const *pText = (char const *)pData;
    RunAt(pText, uSize, 4);
    RunAt(pText, uSize, 8);
    return 0;
}
