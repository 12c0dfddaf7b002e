// The sign table against the letters and figures of the International Morse
// code (ITU-R M.1677-1), written here independently as dot-dash strings.
#include "exhibit.h"

#include <gtest/gtest.h>

#include <map>
#include <string>

namespace {

const std::map<char, std::string> kItuCode = {
    {'A', ".-"},    {'B', "-..."},  {'C', "-.-."},  {'D', "-.."},   {'E', "."},     {'F', "..-."},
    {'G', "--."},   {'H', "...."},  {'I', ".."},    {'J', ".---"},  {'K', "-.-"},   {'L', ".-.."},
    {'M', "--"},    {'N', "-."},    {'O', "---"},   {'P', ".--."},  {'Q', "--.-"},  {'R', ".-."},
    {'S', "..."},   {'T', "-"},     {'U', "..-"},   {'V', "...-"},  {'W', ".--"},   {'X', "-..-"},
    {'Y', "-.--"},  {'Z', "--.."},  {'1', ".----"}, {'2', "..---"}, {'3', "...--"}, {'4', "....-"},
    {'5', "....."}, {'6', "-...."}, {'7', "--..."}, {'8', "---.."}, {'9', "----."}, {'0', "-----"},
};

// The sign of a row as the player reads it: positions 1, 2, ... up to the
// first one that is neither a dot nor a dash.
std::string SignOf(int row)
{
    std::string sign;
    for (int pos = 1;; ++pos) {
        char c = SignSymbolAt(row, pos);
        if (c != '.' && c != '-')
            return sign;
        sign += c;
    }
}

TEST(SignTable, EveryRowIsTheInternationalCodeOfItsCharacterInTheExhibitOrder)
{
    const std::string order = "ABCDEFGHIJKLMNOPQRSTUVWXYZ1234567890";
    ASSERT_EQ(SIGN_COUNT, 36);
    for (int row = 0; row < SIGN_COUNT; ++row) {
        char c = SignCharacter(row);
        EXPECT_EQ(c, order[row]) << "row " << row;
        EXPECT_EQ(SignOf(row), kItuCode.at(c)) << "row " << row << " (" << c << ")";
    }
}

TEST(SignTable, RowsHoldOneToFiveSymbolsWithoutGapsThenNul)
{
    int rowsBySymbols[SIGN_MAX_SYMBOLS + 1] = {};
    for (int row = 0; row < SIGN_COUNT; ++row) {
        int n = static_cast<int>(SignOf(row).size());
        ASSERT_GE(n, 1);
        ASSERT_LE(n, SIGN_MAX_SYMBOLS);
        ++rowsBySymbols[n];
        for (int pos = n + 1; pos <= SIGN_MAX_SYMBOLS; ++pos)
            EXPECT_EQ(SignTable[row][pos], '\0') << "row " << row << " pos " << pos;
    }
    EXPECT_EQ(rowsBySymbols[1], 2);
    EXPECT_EQ(rowsBySymbols[2], 4);
    EXPECT_EQ(rowsBySymbols[3], 8);
    EXPECT_EQ(rowsBySymbols[4], 12);
    EXPECT_EQ(rowsBySymbols[5], 10);
}

TEST(SignTable, TellingRowsAsBytes)
{
    struct Row { int row; const char bytes[7]; };
    const Row rows[] = {
        {0, "A.-\0\0\0"}, {4, "E.\0\0\0\0"}, {19, "T-\0\0\0\0"}, {25, "Z--..\0"},
        {26, "1.----"},   {30, "5....."},    {35, "0-----"},
    };
    for (const Row& r : rows)
        for (int pos = 0; pos <= SIGN_MAX_SYMBOLS; ++pos)
            EXPECT_EQ(SignTable[r.row][pos], r.bytes[pos]) << "row " << r.row << " pos " << pos;
}

TEST(SignTable, PositionsOutsideTheSymbolsReadAsNoSymbol)
{
    for (int row = 0; row < SIGN_COUNT; ++row) {
        EXPECT_EQ(SignSymbolAt(row, 0), '\0') << "row " << row; // the character is no symbol
        for (int pos : {6, 7, 100, -1, -32768, 32767})
            EXPECT_EQ(SignSymbolAt(row, pos), '\0') << "row " << row << " pos " << pos;
    }
    // A full digit row ends at its fifth symbol, not in the next row.
    EXPECT_EQ(SignSymbolAt(26, 5), '-');
    EXPECT_EQ(SignSymbolAt(35, 5), '-');
}

} // namespace
