#include "data/jet_functions.h"

#ifdef FATOTAL_SQLITE_EXTENSION
#include <sqlite3ext.h>
SQLITE_EXTENSION_INIT3
#else
#include <sqlite3.h>
#endif

#include <charconv>
#include <cmath>
#include <cstdint>
#include <cstdio>

namespace fa::jet {

namespace {

// Val reads past these wherever they stand, even between the digits.
inline bool isSkipped(char c)
{
    return c == ' ' || c == '\t' || c == '\n';
}

inline bool isDigit(int c)
{
    return c >= '0' && c <= '9';
}

// Walks a text, skipping the characters Val ignores.
class Reader
{
public:
    Reader(const char *text, std::size_t size) : m_p(text), m_end(text + size) {}
    // The next character that counts, or -1 at the end; not consumed.
    int peek()
    {
        while (m_p < m_end && isSkipped(*m_p))
            ++m_p;
        return m_p < m_end ? static_cast<unsigned char>(*m_p) : -1;
    }
    void take() { ++m_p; }
    const char *position() const { return m_p; }
    void rewind(const char *position) { m_p = position; }

private:
    const char *m_p;
    const char *m_end;
};

int digitValue(int c, int base)
{
    int d = -1;
    if (isDigit(c))
        d = c - '0';
    else if (c >= 'a' && c <= 'f')
        d = c - 'a' + 10;
    else if (c >= 'A' && c <= 'F')
        d = c - 'A' + 10;
    return d < base ? d : -1;
}

// "&H…" or "&O…", the reader standing after the "&". A value that fits in
// 16 bits is an Integer of the original dialect, else a Long; more than
// 32 bits overflow.
ValResult readRadix(Reader &in)
{
    ValResult result;
    int base = 0;
    switch (in.peek()) {
    case 'h':
    case 'H':
        base = 16;
        break;
    case 'o':
    case 'O':
        base = 8;
        break;
    default:
        return result; // not a number: 0
    }
    in.take();
    std::uint64_t value = 0;
    bool overflow = false;
    for (int d; (d = digitValue(in.peek(), base)) >= 0; in.take()) {
        value = value * base + d;
        if (value > 0xFFFFFFFFu) {
            overflow = true;
            value = 0;
        }
    }
    if (overflow) {
        result.kind = ValResult::Overflow;
        return result;
    }
    result.kind = ValResult::Integer;
    result.integer = value <= 0xFFFFu
                         ? static_cast<std::int16_t>(value)
                         : static_cast<std::int32_t>(static_cast<std::uint32_t>(value));
    return result;
}

} // namespace

ValResult val(const char *text, std::size_t size)
{
    Reader in(text, size);
    ValResult result;
    int c = in.peek();
    if (c == '&') {
        in.take();
        return readRadix(in);
    }
    bool negative = false;
    if (c == '+' || c == '-') {
        negative = c == '-';
        in.take();
    }

    // The significant digits go into a small buffer; digits beyond what a
    // double can hold only move the decimal exponent.
    constexpr int kMaxDigits = 40;
    char buffer[kMaxDigits + 16];
    int kept = 0;
    long long shift = 0; // the value is buffer × 10^shift
    bool anyDigit = false;
    bool point = false;
    for (;; in.take()) {
        c = in.peek();
        if (isDigit(c)) {
            anyDigit = true;
            const bool leadingZero = kept == 0 && c == '0';
            if (point && !leadingZero) {
                if (kept < kMaxDigits) {
                    buffer[kept++] = char(c);
                    --shift;
                }
            } else if (point) {
                --shift;
            } else if (!leadingZero) {
                if (kept < kMaxDigits)
                    buffer[kept++] = char(c);
                else
                    ++shift;
            }
        } else if (c == '.' && !point) {
            point = true;
        } else {
            break;
        }
    }

    long long exponent = 0;
    if (anyDigit && (c == 'e' || c == 'E' || c == 'd' || c == 'D')) {
        const char *mark = in.position();
        in.take();
        bool negativeExponent = false;
        c = in.peek();
        if (c == '+' || c == '-') {
            negativeExponent = c == '-';
            in.take();
        }
        bool exponentDigits = false;
        for (; isDigit(c = in.peek()); in.take()) {
            exponentDigits = true;
            if (exponent < 100000)
                exponent = exponent * 10 + (c - '0');
        }
        if (!exponentDigits)
            in.rewind(mark); // "1E" is the number 1 followed by other text
        else if (negativeExponent)
            exponent = -exponent;
    }

    if (kept == 0)
        return result; // no significant digit: 0 (never -0)

    const long long scale = exponent + shift;
    // Beyond these the value is surely out of a double's range.
    if (scale + kept > 400) {
        result.kind = ValResult::Overflow;
        return result;
    }
    if (scale + kept < -400)
        return result;
    int length = kept;
    buffer[length++] = 'e';
    length += std::snprintf(buffer + length, sizeof buffer - length, "%lld", scale);
    double value = 0;
    const auto parsed = std::from_chars(buffer, buffer + length, value);
    if (parsed.ec == std::errc::result_out_of_range) {
        if (scale + kept > 0)
            result.kind = ValResult::Overflow;
        return result; // else too small: 0
    }
    if (!std::isfinite(value)) {
        result.kind = ValResult::Overflow;
        return result;
    }
    result.real = negative ? -value : value;
    return result;
}

int cstr(double value, char *out)
{
    if (value == 0) { // also -0
        out[0] = '0';
        return 1;
    }
    const auto written = std::to_chars(out, out + 32, value, std::chars_format::general, 15);
    for (char *p = out; p != written.ptr; ++p) {
        if (*p == 'e')
            *p = 'E';
    }
    return int(written.ptr - out);
}

namespace {

// Val(Null) is an error in the original dialect ("invalid use of Null");
// here it is Null, so that a Null column does not stop a whole statement and
// aggregates skip it as they skip any Null.
void valFunction(sqlite3_context *context, int, sqlite3_value **argv)
{
    sqlite3_value *arg = argv[0];
    switch (sqlite3_value_type(arg)) {
    case SQLITE_NULL:
        return; // a function that sets no result answers Null
    case SQLITE_INTEGER:
        sqlite3_result_double(context, double(sqlite3_value_int64(arg)));
        return;
    case SQLITE_FLOAT:
        sqlite3_result_double(context, sqlite3_value_double(arg));
        return;
    default:
        break;
    }
    const auto *text = reinterpret_cast<const char *>(sqlite3_value_text(arg));
    const int size = sqlite3_value_bytes(arg);
    if (!text) {
        sqlite3_result_double(context, 0);
        return;
    }
    const ValResult result = val(text, std::size_t(size));
    switch (result.kind) {
    case ValResult::Double:
        sqlite3_result_double(context, result.real);
        break;
    case ValResult::Integer:
        sqlite3_result_int64(context, result.integer);
        break;
    case ValResult::Overflow:
        sqlite3_result_error(context, "Val: 溢出", -1);
        break;
    }
}

// CStr(Null) is an error in the original dialect as well; Null here, as Val.
void cstrFunction(sqlite3_context *context, int, sqlite3_value **argv)
{
    sqlite3_value *arg = argv[0];
    switch (sqlite3_value_type(arg)) {
    case SQLITE_NULL:
        return;
    case SQLITE_INTEGER: {
        char out[24];
        const auto written = std::to_chars(out, out + sizeof out, sqlite3_value_int64(arg));
        sqlite3_result_text(context, out, int(written.ptr - out), SQLITE_TRANSIENT);
        return;
    }
    case SQLITE_FLOAT: {
        char out[32];
        const int length = cstr(sqlite3_value_double(arg), out);
        sqlite3_result_text(context, out, length, SQLITE_TRANSIENT);
        return;
    }
    default: // text stays as it is
        sqlite3_result_text(context, reinterpret_cast<const char *>(sqlite3_value_text(arg)),
                            sqlite3_value_bytes(arg), SQLITE_TRANSIENT);
        return;
    }
}

} // namespace

int registerFunctions(sqlite3 *db)
{
    constexpr int flags = SQLITE_UTF8 | SQLITE_DETERMINISTIC | SQLITE_INNOCUOUS;
    int rc = sqlite3_create_function_v2(db, "Val", 1, flags, nullptr, valFunction, nullptr, nullptr,
                                        nullptr);
    if (rc == SQLITE_OK)
        rc = sqlite3_create_function_v2(db, "CStr", 1, flags, nullptr, cstrFunction, nullptr,
                                        nullptr, nullptr);
    return rc;
}

} // namespace fa::jet
