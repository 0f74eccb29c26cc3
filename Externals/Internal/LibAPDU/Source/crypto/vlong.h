// Arbitrary-precision signed integers with Montgomery exponentiation, for the
// Diffie-Hellman key agreement of the Tessel secure messaging. Magnitudes are
// arrays of 32-bit words, least significant first, shared between copies until
// one of them changes. Word arrays are wiped before they are freed.
//
// Arithmetic faults (division by zero, an even or zero modulus, a negative
// exponent) raise 6B00 through the library's raising routine.
#ifndef LIBAPDU_CRYPTO_VLONG_H
#define LIBAPDU_CRYPTO_VLONG_H

#include <cstdint>

class flex_unit {
public:
    typedef uint32_t unit;

    flex_unit();
    ~flex_unit();
    flex_unit(const flex_unit&) = delete;
    flex_unit& operator=(const flex_unit&) = delete;

    unit get(unsigned i) const { return i < n ? a[i] : 0; }
    void set(unsigned i, unit x);
    void reserve(unsigned x);  // capacity of at least x words, content kept
    void clear() { n = 0; }
    // this = (x * y) reduced to its lowest `keep` bits.
    void fast_mul(flex_unit& x, flex_unit& y, unsigned keep);

    unsigned n;  // words in use, up to the highest non-zero word

protected:
    unit* a;     // the words
    unsigned z;  // capacity in words
    void trim() {
        while (n > 0 && a[n - 1] == 0) --n;
    }
    friend class monty;
};

class vlong_value : public flex_unit {
public:
    unsigned share;  // further vlongs sharing this value besides the first

    vlong_value() : share(0) {}
    int is_zero() const { return n == 0; }
    int test(unsigned i) const { return (get(i / 32) >> (i % 32)) & 1; }
    unsigned bits() const;
    int cf(const vlong_value& x) const;
    void shl();
    void shr();
    void shr(unsigned bits);
    void shl(unsigned bits);
    void add(const vlong_value& x);
    void subtract(const vlong_value& x);  // needs this >= x
    void init(unsigned x);
    void copy(const vlong_value& x);
    operator unsigned() const { return get(0); }
    void mul(vlong_value& x, vlong_value& y);
    // this = x / y, rem = x % y; y = 0 raises 6B00.
    void divide(const vlong_value& x, const vlong_value& y, vlong_value& rem);
};

class vlong {
public:
    vlong(unsigned x = 0);
    vlong(const vlong& x);
    // Big-endian bytes, taken four at a time from the end.
    vlong(const unsigned char* bytes, unsigned length);
    ~vlong();
    vlong& operator=(const vlong& x);

    operator unsigned() const;  // the lowest word
    vlong& operator+=(const vlong& x);
    vlong& operator-=(const vlong& x);

    int cf(const vlong& x) const;
    int is_zero() const;
    int is_neg() const { return negative; }
    int is_even() const;
    unsigned bits() const;

    // 4 x the words in use: the magnitude's byte length rounded up to words.
    unsigned size() const;
    // Zeroes the buffer; when length >= size() writes the magnitude big-endian,
    // right-aligned.
    void to_hex(unsigned char* buffer, unsigned length) const;
    void from_hex(const unsigned char* bytes, unsigned length);
    void from_ascii(const char* text);
    void from_str(const char* text, unsigned count);
    void print(const char* suffix) const;

    friend vlong operator+(const vlong& x, const vlong& y);
    friend vlong operator-(const vlong& x, const vlong& y);
    friend vlong operator*(const vlong& x, const vlong& y);
    friend vlong operator/(const vlong& x, const vlong& y);
    friend vlong operator%(const vlong& x, const vlong& y);
    friend vlong operator<<(const vlong& x, unsigned n);
    friend vlong operator>>(const vlong& x, unsigned n);
    friend class monty;

private:
    vlong_value* value;
    int negative;
    void docopy();
    vlong& addSigned(const vlong& x, int xNegative);
};

inline bool operator==(const vlong& x, const vlong& y) { return x.cf(y) == 0; }
inline bool operator!=(const vlong& x, const vlong& y) { return x.cf(y) != 0; }
inline bool operator<(const vlong& x, const vlong& y) { return x.cf(y) < 0; }
inline bool operator>(const vlong& x, const vlong& y) { return x.cf(y) > 0; }
inline bool operator<=(const vlong& x, const vlong& y) { return x.cf(y) <= 0; }
inline bool operator>=(const vlong& x, const vlong& y) { return x.cf(y) >= 0; }

// Montgomery arithmetic for one odd modulus m > 1.
class monty {
public:
    explicit monty(const vlong& m);
    ~monty();
    monty(const monty&) = delete;
    monty& operator=(const monty&) = delete;
    // x = x * y * R^-1 mod m, for x, y < R; a square when y shares x's value.
    void mul(vlong& x, const vlong& y);
    vlong exp(const vlong& x, const vlong& e);

private:
    vlong R, R1, m, n1, T, k;  // R = 2^N >= m, R1 = R^-1 mod m, n1 = R - (m^-1 mod R)
    unsigned N;
    unsigned s;          // words of m (and of every operand in Montgomery form)
    flex_unit::unit n0;  // lowest word of n1: -m^-1 mod 2^32
    // One 64-byte aligned arena, sized once, for the word loops: m and the
    // operand one word per 64-bit lane with zero lanes around them, the
    // squares' diagonal, and the two accumulators of the sums.
    uint64_t* arena;
    unsigned arenaWords;
    unsigned blocks;  // 8-lane blocks of each accumulator
    uint64_t *mp, *yp, *xd, *L, *H;
    // r[0..s) = x * y * R^-1 mod m on s-word operands; r may be x or y.
    void mulWords(flex_unit::unit* r, const flex_unit::unit* x, const flex_unit::unit* y);
    void sqrWords(flex_unit::unit* r, const flex_unit::unit* x);
    void reduce(flex_unit::unit* r);
    void finish(flex_unit::unit* r);
    void twice(flex_unit::unit* r) const;  // r = 2r mod m, for r < m
    void store(flex_unit& v, const flex_unit::unit* w) const;  // v = the s words w
};

// The Montgomery word loops are built for several instruction sets, and the
// best that the processor runs is used unless a test pins another build.
enum vlong_rows { vlong_rows_best, vlong_rows_plain, vlong_rows_avx2, vlong_rows_avx512 };
// False, and nothing changes, when the processor cannot run that build.
bool vlong_use_rows(vlong_rows which);

vlong modexp(const vlong& x, const vlong& e, const vlong& m);
vlong modinv(const vlong& a, const vlong& m);
vlong gcd(const vlong& a, const vlong& b);

#endif
