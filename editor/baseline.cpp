/* What the editor last read or saved, kept as the values the store held
 * then, and the judgement of what differs from it since.  Every way the
 * editor can come to hold no bytes of morvrc (missing, unreadable, damaged,
 * removed) leaves these values in place, so unsaved edits stay unsaved. */
#include "editor/baseline.h"

#include "settings/store/catalogue.h"
#include "settings/store/values.h"

#include <stdlib.h>
#include <string.h>

static struct MorvValues vShown;
static int aiShownCopies[TIME_COPIES];
static int bShownTaken = 0;

int RememberShownValues(void)
{
    FreeValues(&vShown);
    for (int i = 0; i < TIME_COPIES; i++)
        aiShownCopies[i] = *aTimeCopies[i].piCopy;
    bShownTaken = TakeStoreValues(&vShown);
    return bShownTaken;
}

/* The index of the time working copy that row iRow edits, or -1. */
static int TimeCopyOfRow(int iRow)
{
    for (int i = 0; i < TIME_COPIES; i++)
        if (dvArray[iRow].piValue == aTimeCopies[i].piCopy)
            return i;
    return -1;
}

/* Whether item k of the store now differs from what RememberShownValues
 * took of it (1 also when memory runs out). */
static int ItemDiffersFromShown(int k)
{
    char *psNow = FormatItemValue(vShown.aItems[k]);
    int bDiffers = psNow == NULL || strcmp(psNow, vShown.apsPlain[k]) != 0;
    free(psNow);
    return bDiffers;
}

int StoreDiffersFromShown(void)
{
    if (!bShownTaken)
        return 1;
    /* A time row edits its working copy; the setting follows at a save. */
    for (int i = 0; i < TIME_COPIES; i++)
        if (*aTimeCopies[i].piCopy != aiShownCopies[i])
            return 1;
    for (int k = 0; k < vShown.iItems; k++)
        if (ItemDiffersFromShown(k))
            return 1;
    return 0;
}

int RowDiffersFromShown(int iRow)
{
    struct MorvItem it;
    if (!RowIsBound(iRow) || !RowItem(iRow, &it))
        return 0;
    if (!bShownTaken)
        return 1;
    int iCopy = TimeCopyOfRow(iRow);
    if (iCopy >= 0)
        return *aTimeCopies[iCopy].piCopy != aiShownCopies[iCopy];
    int k = ItemIndex(it);
    return k >= 0 && k < vShown.iItems && ItemDiffersFromShown(k);
}
