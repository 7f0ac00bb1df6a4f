/* A program outside the project that uses the installed library. */
#include <tranpak.h>

#include <stdio.h>

int main(void)
{
    /* No settings or definition file here: Init8583 fails, and every field
       is an undefined one of type 0. */
    int init = Init8583();
    int type = GetCellType(0);
    int set = SetCell(0, "0200");
    char txcode[5] = {0};
    int get = GetCell(0, txcode);
    printf("Init8583 %d, GetCellType %d, SetCell %d, GetCell %d %s\n", init, type, set, get, txcode);
    return (init == -1 && type == CELL_ANS && set == 0 && get == 0 && txcode[0] == '0') ? 0 : 1;
}
