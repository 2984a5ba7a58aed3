// data_scanf: the scanf conventions implemented over the stream itself, so
// that the one character read past a field stays as the stream's push-back
// character. Field widths bound every store; integers saturate.
#include "files/files_local.h"

#include <climits>
#include <cstdarg>
#include <cstdlib>
#include <cstring>

namespace {

constexpr int k_none = -2;        // no character read (width used up)
constexpr int k_float_chars = 318; // longest floating-point field kept

enum class size_mod { none, hh, h, l, ll };

bool is_space(int c)
{
    return c == ' ' || c == '\t' || c == '\n' || c == '\v' || c == '\f' || c == '\r';
}

int digit_value(int c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'z')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z')
        return c - 'A' + 10;
    return 99;
}

struct scanner {
    data_file *f;
    int consumed = 0;  // for %n

    int get()
    {
        int c = data_getc(f);
        if (c >= 0)
            consumed++;
        return c;
    }
    // Only ever the character just read, so the single push-back suffices.
    void unget(int c)
    {
        if (c >= 0) {
            f->pushback = c;
            consumed--;
        }
    }
    void skip_space()
    {
        int c;
        while (is_space(c = get())) {
        }
        unget(c);
    }
};

// One field's characters: `c` is the current one, `left` how many the width
// still allows.
struct field {
    scanner &s;
    int c;
    int left;

    void advance()
    {
        left--;
        c = left > 0 ? s.get() : k_none;
    }
    void finish() { s.unget(c); }
};

enum class outcome { ok, mismatch, input_end };

// Reads an integer in `base` (0: from the prefix, as %i). Saturates the
// magnitude at UINT64_MAX.
outcome scan_integer(scanner &s, int width, int base, bool *neg, uint64_t *mag)
{
    s.skip_space();
    field fl{s, s.get(), width > 0 ? width : INT_MAX};
    if (fl.c < 0)
        return outcome::input_end;
    *neg = false;
    *mag = 0;
    if (fl.c == '+' || fl.c == '-') {
        *neg = fl.c == '-';
        fl.advance();
    }
    bool digits = false;
    if ((base == 0 || base == 16) && fl.c == '0') {
        digits = true;
        fl.advance();
        if (fl.c == 'x' || fl.c == 'X') {
            base = 16;
            fl.advance();
        } else if (base == 0) {
            base = 8;
        }
    }
    if (base == 0)
        base = 10;
    bool overflow = false;
    while (fl.c >= 0 && digit_value(fl.c) < base) {
        uint64_t d = uint64_t(digit_value(fl.c));
        if (*mag > (UINT64_MAX - d) / uint64_t(base))
            overflow = true;
        else
            *mag = *mag * uint64_t(base) + d;
        digits = true;
        fl.advance();
    }
    fl.finish();
    if (overflow)
        *mag = UINT64_MAX;
    return digits ? outcome::ok : outcome::mismatch;
}

int64_t clamp_signed(bool neg, uint64_t mag, int64_t lo, int64_t hi)
{
    if (!neg)
        return mag > uint64_t(hi) ? hi : int64_t(mag);
    if (mag > uint64_t(hi))
        return lo;
    return -int64_t(mag);
}

void store_signed(va_list &ap, size_mod m, bool neg, uint64_t mag)
{
    switch (m) {
    case size_mod::hh: *va_arg(ap, signed char *) = (signed char)clamp_signed(neg, mag, SCHAR_MIN, SCHAR_MAX); break;
    case size_mod::h: *va_arg(ap, short *) = short(clamp_signed(neg, mag, SHRT_MIN, SHRT_MAX)); break;
    case size_mod::none: *va_arg(ap, int *) = int(clamp_signed(neg, mag, INT_MIN, INT_MAX)); break;
    case size_mod::l: *va_arg(ap, long *) = long(clamp_signed(neg, mag, LONG_MIN, LONG_MAX)); break;
    case size_mod::ll: *va_arg(ap, long long *) = clamp_signed(neg, mag, LLONG_MIN, LLONG_MAX); break;
    }
}

// The magnitude saturates at the type's maximum; a minus sign then negates in
// the unsigned type, as strtoul does.
template <typename T> T unsigned_value(bool neg, uint64_t mag, uint64_t max)
{
    T v = T(mag > max ? max : mag);
    return neg ? T(T(0) - v) : v;
}

void store_unsigned(va_list &ap, size_mod m, bool neg, uint64_t mag)
{
    switch (m) {
    case size_mod::hh: *va_arg(ap, unsigned char *) = unsigned_value<unsigned char>(neg, mag, UCHAR_MAX); break;
    case size_mod::h: *va_arg(ap, unsigned short *) = unsigned_value<unsigned short>(neg, mag, USHRT_MAX); break;
    case size_mod::none: *va_arg(ap, unsigned *) = unsigned_value<unsigned>(neg, mag, UINT_MAX); break;
    case size_mod::l: *va_arg(ap, unsigned long *) = unsigned_value<unsigned long>(neg, mag, ULONG_MAX); break;
    case size_mod::ll:
        *va_arg(ap, unsigned long long *) = unsigned_value<unsigned long long>(neg, mag, ULLONG_MAX);
        break;
    }
}

// Optional sign, digits with an optional fraction (at least one digit), then
// an optional exponent. The text goes into buf.
outcome scan_float_text(scanner &s, int width, char *buf)
{
    s.skip_space();
    int limit = width > 0 && width < k_float_chars ? width : k_float_chars;
    field fl{s, s.get(), limit};
    if (fl.c < 0)
        return outcome::input_end;
    int n = 0;
    auto take = [&] {
        buf[n++] = char(fl.c);
        fl.advance();
    };
    auto is_digit = [&] { return fl.c >= '0' && fl.c <= '9'; };
    if (fl.c == '+' || fl.c == '-')
        take();
    int digits = 0;
    for (; is_digit(); digits++)
        take();
    if (fl.c == '.') {
        take();
        for (; is_digit(); digits++)
            take();
    }
    if (digits == 0) {
        fl.finish();
        return outcome::mismatch;
    }
    if (fl.c == 'e' || fl.c == 'E') {
        take();
        if (fl.c == '+' || fl.c == '-')
            take();
        if (!is_digit()) {
            fl.finish();
            return outcome::mismatch;
        }
        while (is_digit())
            take();
    }
    fl.finish();
    buf[n] = 0;
    return outcome::ok;
}

// Parses a "[" set starting after the "["; returns the format just past the
// closing "]", or null when there is none.
const char *parse_set(const char *p, bool set[256])
{
    bool negate = false;
    if (*p == '^') {
        negate = true;
        p++;
    }
    std::memset(set, 0, 256 * sizeof(bool));
    bool first = true;
    for (; *p && (first || *p != ']'); p++, first = false) {
        auto lo = (unsigned char)*p;
        if (p[1] == '-' && p[2] && p[2] != ']' && (unsigned char)p[2] >= lo) {
            auto hi = (unsigned char)p[2];
            for (unsigned c = lo; c <= hi; c++)
                set[c] = true;
            p += 2;
        } else {
            set[lo] = true;
        }
    }
    if (*p != ']')
        return nullptr;
    if (negate)
        for (int c = 0; c < 256; c++)
            set[c] = !set[c];
    return p + 1;
}

int scan(data_file *f, const char *fmt, va_list &ap)
{
    scanner s{f};
    int assigned = 0;
    bool converted = false;  // a conversion (assigned or not) has completed
    auto input_end = [&] { return converted ? assigned : -1; };
    const char *p = fmt;
    while (*p) {
        if (is_space((unsigned char)*p)) {
            while (is_space((unsigned char)*p))
                p++;
            s.skip_space();
            continue;
        }
        if (*p != '%' || p[1] == '%') {
            if (*p == '%') {
                s.skip_space();
                p++;
            }
            int c = s.get();
            if (c < 0)
                return input_end();
            if (c != (unsigned char)*p) {
                s.unget(c);
                return assigned;
            }
            p++;
            continue;
        }
        p++;
        bool suppress = false;
        if (*p == '*') {
            suppress = true;
            p++;
        }
        int width = 0;
        while (*p >= '0' && *p <= '9') {
            width = width > 100000000 ? width : width * 10 + (*p - '0');
            p++;
        }
        size_mod m = size_mod::none;
        if (p[0] == 'h' && p[1] == 'h') {
            m = size_mod::hh;
            p += 2;
        } else if (p[0] == 'h') {
            m = size_mod::h;
            p++;
        } else if (p[0] == 'l' && p[1] == 'l') {
            m = size_mod::ll;
            p += 2;
        } else if (p[0] == 'l') {
            m = size_mod::l;
            p++;
        } else if (p[0] == 'L' || p[0] == 'q') {
            m = size_mod::ll;
            p++;
        }
        char conv = *p++;
        switch (conv) {
        case 'd':
        case 'i':
        case 'o':
        case 'u':
        case 'x':
        case 'X': {
            int base = conv == 'd' || conv == 'u' ? 10 : conv == 'i' ? 0 : conv == 'o' ? 8 : 16;
            bool neg = false;
            uint64_t mag = 0;
            outcome r = scan_integer(s, width, base, &neg, &mag);
            if (r == outcome::input_end)
                return input_end();
            if (r == outcome::mismatch)
                return assigned;
            if (!suppress) {
                if (conv == 'd' || conv == 'i')
                    store_signed(ap, m, neg, mag);
                else
                    store_unsigned(ap, m, neg, mag);
                assigned++;
            }
            break;
        }
        case 'f':
        case 'e':
        case 'E':
        case 'g':
        case 'G': {
            char text[k_float_chars + 1];
            outcome r = scan_float_text(s, width, text);
            if (r == outcome::input_end)
                return input_end();
            if (r == outcome::mismatch)
                return assigned;
            if (!suppress) {
                if (m == size_mod::none)
                    *va_arg(ap, float *) = std::strtof(text, nullptr);
                else if (m == size_mod::l)
                    *va_arg(ap, double *) = std::strtod(text, nullptr);
                else
                    *va_arg(ap, long double *) = std::strtold(text, nullptr);
                assigned++;
            }
            break;
        }
        case 's':
        case 'c':
        case '[': {
            if (m != size_mod::none)
                return assigned;  // wide characters are not read
            bool set[256];
            if (conv == '[') {
                p = parse_set(p, set);
                if (!p)
                    return assigned;
            } else if (conv == 's') {
                s.skip_space();
            }
            if (conv == 'c' && width == 0)
                width = 1;
            char *out = suppress ? nullptr : va_arg(ap, char *);
            field fl{s, s.get(), width > 0 ? width : INT_MAX};
            if (fl.c < 0)
                return input_end();
            int n = 0;
            while (fl.c >= 0) {
                if (conv == 's' ? is_space(fl.c) : conv == '[' ? !set[fl.c] : false)
                    break;
                if (out)
                    out[n] = char(fl.c);
                n++;
                fl.advance();
            }
            fl.finish();
            if (conv == 'c' && n < width)
                return input_end();
            if (n == 0)
                return assigned;
            if (out) {
                if (conv != 'c')
                    out[n] = 0;
                assigned++;
            }
            break;
        }
        case 'n':
            if (!suppress) {
                switch (m) {
                case size_mod::hh: *va_arg(ap, signed char *) = (signed char)s.consumed; break;
                case size_mod::h: *va_arg(ap, short *) = short(s.consumed); break;
                case size_mod::none: *va_arg(ap, int *) = s.consumed; break;
                case size_mod::l: *va_arg(ap, long *) = s.consumed; break;
                case size_mod::ll: *va_arg(ap, long long *) = s.consumed; break;
                }
            }
            continue;  // not a conversion
        default:
            return assigned;
        }
        converted = true;
    }
    return assigned;
}

}  // namespace

int data_scanf(data_file *f, const char *fmt, ...)
{
    va_list ap;
    va_start(ap, fmt);
    int n = scan(f, fmt, ap);
    va_end(ap);
    return n;
}
