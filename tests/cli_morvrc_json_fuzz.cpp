/* Fuzz target for the JSON documents that morvrc_tool's load --json reads
 * (settings/morvrc/json): dump --json's output after jq and users' scripts.
 * Every input is applied to a store of initial values twice, for 4-byte and
 * for 8-byte time fields, and each run is checked:
 *   - a refusal gives a reason at a byte offset inside the input;
 *   - after success every text pair can be stored;
 *   - a round trip: the store written as dump --json writes it is valid
 *     UTF-8, is taken whole by a store of
 *     initial values and gives the same document and the same morvrc image.
 * The store is put back to its initial values after every input. */
#include "settings/morvrc/json.h"
#include "settings/morvrc/morvrc.h"
#include "settings/store/items.h"
#include "settings/store/morv.h"
#include "settings/store/text.h"

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
            fprintf(stderr, "cli_morvrc_json_fuzz: check failed: %s\n  ", #cond);                \
            fprintf(stderr, __VA_ARGS__);                                                          \
            fputc('\n', stderr);                                                                   \
            abort();                                                                               \
        }                                                                                          \
    } while (0)

/* The store as dump --json prints it for a whole file of this version. */
std::string Document()
{
    MorvReadInfo info;
    memset(&info, 0, sizeof info);
    info.iVersion = iSetupVersion;
    char *psText = FormatJsonDump(&info, NULL);
    CHECK(psText != NULL, "no document: out of memory");
    std::string s = psText;
    free(psText);
    return s;
}

/* The store's image with iTimeBytes-wide time fields; empty when the store
 * cannot be written. */
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

void RunAt(char const *pText, size_t uSize, int iTimeBytes)
{
    ResetSettings();
    char acWhy[512] = "";
    if (!ApplyJsonSettings(pText, uSize, iTimeBytes, acWhy, sizeof acWhy, NULL)) {
        unsigned long ulAt = 0;
        /* A pair left with one text is told at the end, by name. */
        if (strncmp(acWhy, "byte ", 5) == 0) {
            CHECK(sscanf(acWhy, "byte %lu:", &ulAt) == 1, "no offset in: %s", acWhy);
            CHECK(ulAt <= uSize, "offset %lu past %zu bytes: %s", ulAt, uSize, acWhy);
        } else {
            CHECK(strstr(acWhy, "psFlagChan") != NULL, "refused without an offset: %s", acWhy);
        }
        ResetSettings();
        return;
    }
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        char acPair[256];
        if (aMorvFields[i].eKind == MFK_TEXT_PAIR)
            CHECK(PairIsStorable(i, acPair, sizeof acPair), "taken, but %s", acPair);
    }
    std::string first = Document();
    CHECK(IsUtf8(first.data(), first.size()), "the document is not UTF-8:\n%s", first.c_str());
    std::vector<unsigned char> firstImage = Image(iTimeBytes);
    ResetSettings();
    CHECK(ApplyJsonSettings(first.data(), first.size(), iTimeBytes, acWhy, sizeof acWhy, NULL),
          "the document of what was taken is refused: %s\n%s", acWhy, first.c_str());
    std::string second = Document();
    CHECK(first == second, "the document read back differs:\n%s\n---\n%s", first.c_str(),
          second.c_str());
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
