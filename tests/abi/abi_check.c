/* Compiles the public header as strict C and calls a few exported names
 * through the shared library. */
#include <quillseal/quillseal.h>

#include <stdio.h>
#include <string.h>

int main(void) {
    char text[256];
    char fetched[256];
    if (quillseal_version(text) != 0 || strncmp(text, "Quillseal v2.7.1, ", 18) != 0) {
        fprintf(stderr, "version text: %s\n", text);
        return 1;
    }
    /* A fresh process has an empty slot. */
    handle_error_message(fetched, 0);
    if (fetched[0] != '\0') {
        fprintf(stderr, "slot not empty at start: %s\n", fetched);
        return 1;
    }
    handle_error_message("first", 1);
    handle_error_message("second", 1);
    handle_error_message(fetched, 0);
    if (strcmp(fetched, "first") != 0) {
        fprintf(stderr, "slot: %s\n", fetched);
        return 1;
    }
    pdfsigning_init_cmd();
    pdfsigning_shutdown();
    puts("abi ok");
    return 0;
}
