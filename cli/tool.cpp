/* morvrc_tool's complaints and argument counts, shared by every verb. */
#include "cli/tool.h"

#include <stdarg.h>
#include <stdio.h>

void Complain(char const *psFormat, ...)
{
    va_list ap;
    va_start(ap, psFormat);
    fputs("morvrc_tool: ", stderr);
    vfprintf(stderr, psFormat, ap);
    fputc('\n', stderr);
    va_end(ap);
}

int NoMemory(void)
{
    Complain("out of memory");
    return TS_IO;
}

int ArgumentCount(char const *psVerb, int iHave, int iMin, int iMax)
{
    if (iHave >= iMin && iHave <= iMax)
        return 1;
    Complain("%s: %s arguments (see morvrc_tool %s --help)", psVerb,
             iHave < iMin ? "missing" : "too many", psVerb);
    return 0;
}

