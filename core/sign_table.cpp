// The 36 signs of the exhibit: letters and figures of the International
// Morse code.
#include "exhibit.h"

const SignEntry SignTable[SIGN_COUNT] = {
    {'A', '.', '-'},
    {'B', '-', '.', '.', '.'},
    {'C', '-', '.', '-', '.'},
    {'D', '-', '.', '.'},
    {'E', '.'},
    {'F', '.', '.', '-', '.'},
    {'G', '-', '-', '.'},
    {'H', '.', '.', '.', '.'},
    {'I', '.', '.'},
    {'J', '.', '-', '-', '-'},
    {'K', '-', '.', '-'},
    {'L', '.', '-', '.', '.'},
    {'M', '-', '-'},
    {'N', '-', '.'},
    {'O', '-', '-', '-'},
    {'P', '.', '-', '-', '.'},
    {'Q', '-', '-', '.', '-'},
    {'R', '.', '-', '.'},
    {'S', '.', '.', '.'},
    {'T', '-'},
    {'U', '.', '.', '-'},
    {'V', '.', '.', '.', '-'},
    {'W', '.', '-', '-'},
    {'X', '-', '.', '.', '-'},
    {'Y', '-', '.', '-', '-'},
    {'Z', '-', '-', '.', '.'},
    {'1', '.', '-', '-', '-', '-'},
    {'2', '.', '.', '-', '-', '-'},
    {'3', '.', '.', '.', '-', '-'},
    {'4', '.', '.', '.', '.', '-'},
    {'5', '.', '.', '.', '.', '.'},
    {'6', '-', '.', '.', '.', '.'},
    {'7', '-', '-', '.', '.', '.'},
    {'8', '-', '-', '-', '.', '.'},
    {'9', '-', '-', '-', '-', '.'},
    {'0', '-', '-', '-', '-', '-'},
};

char SignCharacter(int row)
{
    return SignTable[row][0];
}

char SignSymbolAt(int row, int pos)
{
    // The digit rows have no NUL after their fifth symbol: stop at the row's
    // end rather than read into the next row.
    if (pos < 1 || pos > SIGN_MAX_SYMBOLS)
        return '\0';
    return SignTable[row][pos];
}
