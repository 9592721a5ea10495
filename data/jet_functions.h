#pragma once

// The two functions of the file database's dialect that the recalculation
// calls inside its statements, as SQLite functions: Val (a text read as a
// number) and CStr (a value written as text). They run once per row, so they
// work on the raw UTF-8 bytes and allocate nothing in Val.
//
// Plain C++ without Qt, so that the loadable extension for the sqlite3 shell
// can be built from the same source.

#include <cstddef>

struct sqlite3;

namespace fa::jet {

// The outcome of reading a text as Val does.
struct ValResult
{
    enum Kind { Double, Integer, Overflow };
    Kind kind = Double;
    double real = 0;
    long long integer = 0;
};

// Val of a text: blanks, tabs and line feeds are skipped wherever they stand;
// then an optional sign, digits, one decimal point and an exponent (E or D,
// optional sign, digits) are read up to the first character that cannot
// continue the number. "&H" and "&O" read a hexadecimal or octal whole
// number, which is a 16-bit value when it fits in 16 bits and a 32-bit one
// otherwise (so "&HFFFF" is -1). A text without a number gives 0.
ValResult val(const char *text, std::size_t size);

// CStr of a double: a whole number without decimals, other numbers with up to
// 15 significant digits, large and small ones as "1E+20", "1E-05". Writes at
// most 32 bytes (no terminator) and returns the length.
int cstr(double value, char *out);

// Registers Val and CStr (any letter case, one argument, deterministic) on a
// connection. Returns an SQLite result code.
int registerFunctions(sqlite3 *db);

} // namespace fa::jet
