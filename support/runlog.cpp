/* Where the shared code's run-log lines go: to the writer that the program
 * installed, or nowhere. */
#include "support/runlog.h"

#include <stddef.h>

int (*pfRunLog)(char const *psMessage) = NULL;

int LogStep(char const *psMessage)
{
    return pfRunLog != NULL ? pfRunLog(psMessage) : 1;
}
