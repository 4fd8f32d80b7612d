/* The values of the whole store taken as text and JSON, so that two states
 * can be compared after the store has moved on, and the store set aside
 * while another state is read into it. */
#include "settings/store/values.h"

#include "settings/store/fields.h"
#include "settings/store/morv.h"
#include "settings/store/text.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

void FreeValues(struct MorvValues *pv)
{
    for (int k = 0; k < MORV_MAX_ITEMS; k++) {
        free(pv->apsPlain[k]);
        free(pv->apsJson[k]);
    }
    memset(pv, 0, sizeof *pv);
}

int TakeStoreValues(struct MorvValues *pv)
{
    memset(pv, 0, sizeof *pv);
    pv->iItems = AllItems(pv->aItems, MORV_MAX_ITEMS);
    if (pv->iItems < 0)
        pv->iItems = 0;
    for (int k = 0; k < pv->iItems; k++) {
        pv->apsPlain[k] = FormatItemValue(pv->aItems[k]);
        pv->apsJson[k] = FormatItemJson(pv->aItems[k]);
        if (pv->apsPlain[k] == NULL || pv->apsJson[k] == NULL) {
            FreeValues(pv);
            return 0;
        }
    }
    return 1;
}

int ItemDiffers(struct MorvValues const *pa, struct MorvValues const *pb, int k)
{
    return k >= 0 && k < pa->iItems && k < pb->iItems && pa->apsPlain[k] != NULL &&
           pb->apsPlain[k] != NULL && strcmp(pa->apsPlain[k], pb->apsPlain[k]) != 0;
}

int CountDifferences(struct MorvValues const *pa, struct MorvValues const *pb)
{
    int n = 0;
    for (int k = 0; k < pa->iItems; k++)
        n += ItemDiffers(pa, pb, k);
    return n;
}

/* The form of one difference: name, old value, new value. */
static const char acDifference[] = "%s: %s -> %s";

void FormatDifference(struct MorvValues const *pa, struct MorvValues const *pb, int k, char *psOut,
                      size_t uOut)
{
    if (uOut > 0)
        psOut[0] = '\0';
    if (!ItemDiffers(pa, pb, k))
        return;
    char acName[64];
    ItemName(pa->aItems[k], acName, sizeof acName);
    snprintf(psOut, uOut, acDifference, acName, pa->apsPlain[k], pb->apsPlain[k]);
}

char *FormatDifferences(struct MorvValues const *pa, struct MorvValues const *pb, int bJson,
                        char const *psKeyA, char const *psKeyB, char const *psJoin)
{
    struct MorvText t = {NULL, 0, 0, 0};
    char const *psBefore = "";
    for (int k = 0; k < pa->iItems; k++) {
        if (!ItemDiffers(pa, pb, k))
            continue;
        char acName[64];
        ItemName(pa->aItems[k], acName, sizeof acName);
        if (bJson)
            AddText(&t, "%s{\"name\": \"%s\", \"%s\": %s, \"%s\": %s}", psBefore, acName,
                    psKeyA, pa->apsJson[k], psKeyB, pb->apsJson[k]);
        else
            AddText(&t, acDifference, acName, pa->apsPlain[k], pb->apsPlain[k]);
        AddText(&t, "%s", bJson ? "" : "\n");
        psBefore = psJoin;
    }
    return TakeText(&t, NULL);
}

/* ---- The store set aside ----------------------------------------------- */


void PutStoreBack(struct StoreStash *ps)
{
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        char **apsTexts = (char **)aMorvFields[i].pSetting;
        int n = FieldTexts(&aMorvFields[i]);
        for (int k = 0; k < n; k++) {
            free(apsTexts[k]);
            apsTexts[k] = ps->aps[i][k];
        }
        if (n == 0)
            memcpy(aMorvFields[i].pSetting, ps->ab[i], FieldBytes(&aMorvFields[i]));
    }
}

int SetStoreAside(struct StoreStash *ps)
{
    int bOk = 1;
    for (int i = 0; i < MORV_FIELD_COUNT; i++) {
        char **apsTexts = (char **)aMorvFields[i].pSetting;
        int n = FieldTexts(&aMorvFields[i]);
        ps->aps[i][0] = ps->aps[i][1] = NULL;
        for (int k = 0; k < n; k++) {
            ps->aps[i][k] = apsTexts[k];
            apsTexts[k] = NULL;
            if (ps->aps[i][k] != NULL && (apsTexts[k] = strdup(ps->aps[i][k])) == NULL)
                bOk = 0;
        }
        if (n == 0)
            memcpy(ps->ab[i], aMorvFields[i].pSetting, FieldBytes(&aMorvFields[i]));
    }
    if (!bOk)
        PutStoreBack(ps);
    return bOk;
}

