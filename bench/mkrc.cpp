/* mkrc: writes a morvrc holding the built-in defaults, the way the editor
 * saves it when started without one, optionally with another message
 * language.
 *
 *   morv_mkrc FILE [LANGUAGE]
 *
 * Exit status 0 when FILE was written, 1 otherwise. */
#include "settings/store/morv.h"
#include "settings/morvrc/morvrc.h"
#include "support/xchat.h"

#include <stdio.h>
#include <stdlib.h>
#include <string.h>

int main(int argc, char **argv)
{
    if (argc < 2 || argc > 3) {
        fprintf(stderr, "usage: morv_mkrc FILE [LANGUAGE]\n");
        return 1;
    }
    /* A file that cannot be opened leaves the settings at their defaults
     * and installs the built-in texts, as on a first start. */
    static char acMissing[] = "/nonexistent/morvrc";
    psMorvaneRC = acMissing;
    ReadSetup(NULL);
    if (argc == 3) {
        free(psMessageLanguage);
        psMessageLanguage = strdup(argv[2]);
    }
    struct MorvLayout layout = {(int)sizeof(time_t), 0, NULL, 0};
    if (!ReplaceSetupFile(argv[1], &layout, NULL, NULL, NULL)) {
        perror(argv[1]);
        return 1;
    }
    return 0;
}
