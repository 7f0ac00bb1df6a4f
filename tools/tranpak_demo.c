/*
 * A first look at the library from C: load the field definitions named by
 * the settings file and report what happened. Run it from the demo's run/
 * directory, where ../etc/bitmap.txt and ../run/errlog.txt are found.
 */
#include "tranpak.h"

#include <stdio.h>

int main(void)
{
    static const char *type_names[] = {"ANS", "NI", "NF", "A", "AN", "N", "B"};
    int field;

    if (Init8583() != 0) {
        fprintf(stderr, "Init8583 failed; see the error log\n");
        return 1;
    }
    printf("Init8583: field definitions loaded\n");
    for (field = 1; field <= 64; ++field) {
        int type = GetCellType(field);
        if (type >= 0 && type <= 6 && type != CELL_ANS)
            printf("  field %2d  %s\n", field, type_names[type]);
    }
    return 0;
}
