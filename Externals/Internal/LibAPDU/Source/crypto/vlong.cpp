#include "vlong.h"

#include <cstdio>
#include <cstring>

#include "libapdu.internal.h"

namespace {

const wchar_t kSource[] = LIBAPDU_SOURCE("crypto/vlong");

typedef flex_unit::unit unit;

void Wipe(unit* p, unsigned words) { libapdu::SecureWipe(p, sizeof(unit) * words); }

typedef unsigned __int128 acc_t;

// Product scanning: every result word is one column sum of 32 x 32-bit
// products, gathered in two accumulators so that the additions of neighbouring
// products do not wait on each other.
inline acc_t Column(const unit* x, const unit* y, unsigned lo, unsigned hi, unsigned k) {
    const unit* xp = x + lo;
    const unit* yp = y + (k - lo);  // walks down while xp walks up
    const unit* const end = x + hi + 1;
    acc_t a0 = 0, a1 = 0;
    for (; xp + 2 <= end; xp += 2, yp -= 2) {
        a0 += static_cast<uint64_t>(xp[0]) * yp[0];
        a1 += static_cast<uint64_t>(xp[1]) * yp[-1];
    }
    if (xp < end) a0 += static_cast<uint64_t>(xp[0]) * yp[0];
    return a0 + a1;
}

// r[0..limit) = the lowest `limit` words of x * y; r must not overlap x or y.
void MulWords(unit* r, const unit* x, unsigned nx, const unit* y, unsigned ny, unsigned limit) {
    const unsigned cols = nx + ny < limit ? nx + ny : limit;
    acc_t acc = 0;
    for (unsigned k = 0; k < cols; ++k) {
        const unsigned lo = k + 1 > ny ? k + 1 - ny : 0;
        const unsigned hi = k < nx - 1 ? k : nx - 1;
        if (lo <= hi) acc += Column(x, y, lo, hi, k);
        r[k] = static_cast<unit>(acc);
        acc >>= 32;
    }
    for (unsigned k = cols; k < limit; ++k) r[k] = 0;
}

// r[0..2n) = x * x: each column's cross products once, doubled, plus the square.
void SqrWords(unit* r, const unit* x, unsigned n) {
    acc_t acc = 0;
    for (unsigned k = 0; k < 2 * n; ++k) {
        const unsigned lo = k + 1 > n ? k + 1 - n : 0;
        // Pairs i < j with i + j = k.
        const unsigned hi = (k - 1) / 2 < n - 1 ? (k - 1) / 2 : n - 1;
        if (k >= 1 && lo <= hi) acc += Column(x, x, lo, hi, k) << 1;
        if (k % 2 == 0) acc += static_cast<uint64_t>(x[k / 2]) * x[k / 2];
        r[k] = static_cast<unit>(acc);
        acc >>= 32;
    }
}

// The Montgomery loops below scan products column by column (the words of
// x * y and of k * m that land on one result word) and fold the reduction into
// the same pass: the word of k for column c is chosen as soon as column c is
// summed, so that its lowest word becomes zero. No full product is ever stored.
//
// A column pairs x[i] with y[c - i]; with y and m kept word-reversed it is a
// plain dot product of two ascending runs. The low and high halves of the
// 32 x 32-bit products are summed apart, in 64 bits each (a column has at most
// 2s products, far from overflowing either), which the compiler turns into
// vector multiplies. The two column loops are built twice, for plain x86-64 and
// for AVX2, and the loader picks the one the processor runs: the wider vectors
// halve the time of a modexp.
#define LIBAPDU_VECTOR_CLONES __attribute__((target_clones("avx2", "default")))
struct ColumnSum {
    uint64_t lo = 0, hi = 0;
    acc_t value() const { return lo + (static_cast<acc_t>(hi) << 32); }
};

// Adds a[i] * b[i] + c[i] * d[i] for i in [0, n).
inline void Dot2(ColumnSum& s, const unit* __restrict a, const unit* __restrict b, const unit* __restrict c,
                 const unit* __restrict d, unsigned n) {
    uint64_t lo = 0, hi = 0;
    for (unsigned i = 0; i < n; ++i) {
        const uint64_t p = static_cast<uint64_t>(a[i]) * b[i];
        const uint64_t r = static_cast<uint64_t>(c[i]) * d[i];
        lo += static_cast<uint64_t>(static_cast<unit>(p)) + static_cast<unit>(r);
        hi += (p >> 32) + (r >> 32);
    }
    s.lo += lo;
    s.hi += hi;
}

// Adds a[i] * b[i] for i in [0, n).
inline void Dot1(ColumnSum& s, const unit* __restrict a, const unit* __restrict b, unsigned n) {
    uint64_t lo = 0, hi = 0;
    for (unsigned i = 0; i < n; ++i) {
        const uint64_t p = static_cast<uint64_t>(a[i]) * b[i];
        lo += static_cast<unit>(p);
        hi += p >> 32;
    }
    s.lo += lo;
    s.hi += hi;
}

void Reverse(unit* __restrict r, const unit* __restrict x, unsigned s) {
    for (unsigned i = 0; i < s; ++i) r[i] = x[s - 1 - i];
}

// The mask of the word of k chosen at column c: the last one keeps only the
// b bits that R = 2^N leaves to it.
inline unit KeyMask(unsigned c, unsigned s, unsigned b) {
    return c + 1 == s && b < 32 ? (static_cast<unit>(1) << b) - 1 : ~static_cast<unit>(0);
}

// w[0..s+2) = words s-1 .. 2s of x * y + k * m, where k (written to q[0..s))
// makes the lowest 32 (s - 1) + b bits of the sum zero. yr and mr are y and m
// word-reversed; x, y < m, s >= 1.
LIBAPDU_VECTOR_CLONES
void MontMulColumns(unit* __restrict w, unit* __restrict q, const unit* __restrict x, const unit* __restrict yr,
                    const unit* __restrict mr, unsigned s, unit n0, unsigned b) {
    const uint64_t y0 = yr[s - 1], m0 = mr[s - 1];
    acc_t acc = 0;
    for (unsigned c = 0; c < s; ++c) {
        ColumnSum col;
        Dot2(col, x, yr + (s - 1 - c), q, mr + (s - 1 - c), c);
        acc += col.value() + x[c] * y0;
        const unit qc = (static_cast<unit>(acc) * n0) & KeyMask(c, s, b);
        q[c] = qc;
        acc += qc * m0;
        if (c + 1 == s) w[0] = static_cast<unit>(acc);  // zero unless b < 32
        acc >>= 32;
    }
    for (unsigned c = s; c + 1 < 2 * s; ++c) {
        const unsigned lo = c - s + 1;
        ColumnSum col;
        Dot2(col, x + lo, yr, q + lo, mr, s - lo);
        acc += col.value();
        w[lo] = static_cast<unit>(acc);
        acc >>= 32;
    }
    w[s] = static_cast<unit>(acc);
    w[s + 1] = static_cast<unit>(acc >> 32);
}

// As MontMulColumns for y = x: each cross product of a column once, doubled.
LIBAPDU_VECTOR_CLONES
void MontSqrColumns(unit* __restrict w, unit* __restrict q, const unit* __restrict x, const unit* __restrict xr,
                    const unit* __restrict mr, unsigned s, unit n0, unsigned b) {
    const uint64_t m0 = mr[s - 1];
    acc_t acc = 0;
    for (unsigned c = 0; c + 1 < 2 * s; ++c) {
        const unsigned lo = c >= s ? c - s + 1 : 0;
        // Pairs i < c - i.
        ColumnSum cross;
        Dot1(cross, x + lo, xr + (s - 1 + lo - c), (c + 1) / 2 - lo);
        acc_t col = cross.value() << 1;
        if (c % 2 == 0) col += static_cast<uint64_t>(x[c / 2]) * x[c / 2];
        ColumnSum red;
        if (c < s) {
            Dot1(red, q, mr + (s - 1 - c), c);
            acc += col + red.value();
            const unit qc = (static_cast<unit>(acc) * n0) & KeyMask(c, s, b);
            q[c] = qc;
            acc += qc * m0;
            if (c + 1 == s) w[0] = static_cast<unit>(acc);
        } else {
            Dot1(red, q + lo, mr, s - lo);
            acc += col + red.value();
            w[lo] = static_cast<unit>(acc);
        }
        acc >>= 32;
    }
    w[s] = static_cast<unit>(acc);
    w[s + 1] = static_cast<unit>(acc >> 32);
}

}  // namespace

// ============================================================ flex_unit

flex_unit::flex_unit() : n(0), a(nullptr), z(0) {}

flex_unit::~flex_unit() {
    if (a) {
        Wipe(a, z);
        delete[] a;
    }
}

void flex_unit::reserve(unsigned x) {
    if (x <= z) return;
    unit* na = new unit[x];
    if (n) std::memcpy(na, a, sizeof(unit) * n);
    std::memset(na + n, 0, sizeof(unit) * (x - n));
    if (a) {
        Wipe(a, z);
        delete[] a;
    }
    a = na;
    z = x;
}

void flex_unit::set(unsigned i, unit x) {
    if (i < n) {
        a[i] = x;
        if (x == 0) trim();
    } else if (x) {
        reserve(i + 1);
        for (unsigned j = n; j < i; ++j) a[j] = 0;
        a[i] = x;
        n = i + 1;
    }
}

void flex_unit::fast_mul(flex_unit& x, flex_unit& y, unsigned keep) {
    const unsigned limit = (keep + 31) / 32;
    if (limit == 0 || x.n == 0 || y.n == 0) {
        n = 0;
        return;
    }
    const bool square = &x == &y && 2 * x.n <= limit;
    const bool alias = &x == this || &y == this;
    unit* r;
    unit* scratch = nullptr;
    const unsigned need = square ? 2 * x.n : limit;
    if (alias) {
        scratch = new unit[need];
        r = scratch;
    } else {
        reserve(need);
        r = a;
    }
    if (square)
        SqrWords(r, x.a, x.n);
    else
        MulWords(r, x.a, x.n, y.a, y.n, limit);
    unsigned used = need < limit ? need : limit;
    if (keep % 32) r[limit - 1] &= (static_cast<unit>(1) << (keep % 32)) - 1;
    if (alias) {
        reserve(used);
        std::memcpy(a, r, sizeof(unit) * used);
        Wipe(scratch, need);
        delete[] scratch;
    }
    n = used;
    trim();
}

// ============================================================ vlong_value

unsigned vlong_value::bits() const {
    if (n == 0) return 0;
    return 32 * (n - 1) + (32 - static_cast<unsigned>(__builtin_clz(a[n - 1])));
}

int vlong_value::cf(const vlong_value& x) const {
    if (n > x.n) return 1;
    if (n < x.n) return -1;
    for (unsigned i = n; i-- > 0;) {
        if (a[i] > x.a[i]) return 1;
        if (a[i] < x.a[i]) return -1;
    }
    return 0;
}

void vlong_value::shl() { shl(1); }
void vlong_value::shr() { shr(1); }

void vlong_value::shl(unsigned s) {
    if (n == 0 || s == 0) return;
    const unsigned w = s / 32, b = s % 32;
    const unsigned nn = n + w + 1;
    reserve(nn);
    for (unsigned i = nn; i-- > 0;) {
        unit hi = i >= w && i - w < n ? a[i - w] : 0;
        unit lo = i >= w + 1 && i - w - 1 < n ? a[i - w - 1] : 0;
        a[i] = b ? (hi << b) | (lo >> (32 - b)) : hi;
    }
    n = nn;
    trim();
}

void vlong_value::shr(unsigned s) {
    const unsigned w = s / 32, b = s % 32;
    if (w >= n) {
        n = 0;
        return;
    }
    const unsigned nn = n - w;
    for (unsigned i = 0; i < nn; ++i) {
        const unit lo = a[i + w];
        const unit hi = i + w + 1 < n ? a[i + w + 1] : 0;
        a[i] = b ? (lo >> b) | (hi << (32 - b)) : lo;
    }
    for (unsigned i = nn; i < n; ++i) a[i] = 0;
    n = nn;
    trim();
}

void vlong_value::add(const vlong_value& x) {
    const unsigned max = n > x.n ? n : x.n;
    reserve(max + 1);
    for (unsigned i = n; i < max + 1; ++i) a[i] = 0;
    uint64_t c = 0;
    unsigned i = 0;
    for (; i < x.n; ++i) {
        c += static_cast<uint64_t>(a[i]) + x.a[i];
        a[i] = static_cast<unit>(c);
        c >>= 32;
    }
    for (; c && i < max + 1; ++i) {
        c += a[i];
        a[i] = static_cast<unit>(c);
        c >>= 32;
    }
    n = max + 1;
    trim();
}

void vlong_value::subtract(const vlong_value& x) {
    uint64_t borrow = 0;
    unsigned i = 0;
    for (; i < x.n; ++i) {
        const uint64_t d = static_cast<uint64_t>(a[i]) - x.a[i] - borrow;
        a[i] = static_cast<unit>(d);
        borrow = (d >> 32) & 1;
    }
    for (; borrow && i < n; ++i) {
        const uint64_t d = static_cast<uint64_t>(a[i]) - borrow;
        a[i] = static_cast<unit>(d);
        borrow = (d >> 32) & 1;
    }
    trim();
}

void vlong_value::init(unsigned x) {
    n = 0;
    set(0, x);
}

void vlong_value::copy(const vlong_value& x) {
    if (&x == this) return;
    reserve(x.n);
    if (x.n) std::memcpy(a, x.a, sizeof(unit) * x.n);
    for (unsigned i = x.n; i < n; ++i) a[i] = 0;
    n = x.n;
}

void vlong_value::mul(vlong_value& x, vlong_value& y) { fast_mul(x, y, x.bits() + y.bits()); }

void vlong_value::divide(const vlong_value& x, const vlong_value& y, vlong_value& rem) {
    if (y.is_zero()) libapdu::ExternalRaise(libapdu::kSwBadArgument, kSource, __LINE__);
    if (x.cf(y) < 0) {
        rem.copy(x);
        init(0);
        return;
    }
    // Shift-and-subtract long division, one quotient bit per step from the
    // top: where y << s fits below the remainder it is subtracted and bit s
    // set. The 32 bit offsets of y are prepared once, so that a step compares
    // and subtracts only the divisor's words at the word offset s / 32.
    const unsigned ny = y.n, len = ny + 1;
    unit* shifted = new unit[32 * len];
    for (unsigned b = 0; b < 32; ++b) {
        unit* d = shifted + b * len;
        unit carry = 0;
        for (unsigned j = 0; j < ny; ++j) {
            d[j] = (y.a[j] << b) | carry;
            carry = b ? y.a[j] >> (32 - b) : 0;
        }
        d[ny] = carry;
    }
    const unsigned rn = x.n;
    unit* r = new unit[rn + 1];
    std::memcpy(r, x.a, sizeof(unit) * rn);
    r[rn] = 0;
    const unsigned top = x.bits() - y.bits();
    init(0);
    reserve(top / 32 + 1);
    for (unsigned i = 0; i < top / 32 + 1; ++i) a[i] = 0;
    for (unsigned s = top + 1; s-- > 0;) {
        const unsigned w = s / 32;
        const unit* d = shifted + (s % 32) * len;
        // Compare r[w..] with d[0..len): r has no words beyond w + len that
        // are non-zero once y << (s + 1) no longer fits.
        bool geq = true;
        for (unsigned j = rn - w > len ? rn - w : len; j-- > 0;) {
            const unit rw = w + j < rn ? r[w + j] : 0;
            const unit dw = j < len ? d[j] : 0;
            if (rw != dw) {
                geq = rw > dw;
                break;
            }
        }
        if (!geq) continue;
        uint64_t borrow = 0;
        unsigned j = 0;
        for (; j < len && w + j < rn; ++j) {
            const uint64_t v = static_cast<uint64_t>(r[w + j]) - d[j] - borrow;
            r[w + j] = static_cast<unit>(v);
            borrow = (v >> 32) & 1;
        }
        for (j += w; borrow && j < rn; ++j) {
            const uint64_t v = static_cast<uint64_t>(r[j]) - borrow;
            r[j] = static_cast<unit>(v);
            borrow = (v >> 32) & 1;
        }
        a[w] |= static_cast<unit>(1) << (s % 32);
    }
    n = top / 32 + 1;
    trim();
    rem.reserve(rn);
    std::memcpy(rem.a, r, sizeof(unit) * rn);
    for (unsigned i = rn; i < rem.n; ++i) rem.a[i] = 0;
    rem.n = rn;
    rem.trim();
    Wipe(r, rn + 1);
    Wipe(shifted, 32 * len);
    delete[] r;
    delete[] shifted;
}

// ============================================================ vlong

vlong::vlong(unsigned x) : value(new vlong_value), negative(0) { value->init(x); }

vlong::vlong(const vlong& x) : value(x.value), negative(x.negative) { value->share += 1; }

vlong::vlong(const unsigned char* bytes, unsigned length) : value(new vlong_value), negative(0) {
    from_hex(bytes, length);
}

vlong::~vlong() {
    if (value->share)
        value->share -= 1;
    else
        delete value;
}

vlong& vlong::operator=(const vlong& x) {
    if (x.value == value) {
        negative = x.negative;
        return *this;
    }
    if (value->share)
        value->share -= 1;
    else
        delete value;
    value = x.value;
    value->share += 1;
    negative = x.negative;
    return *this;
}

void vlong::docopy() {
    if (value->share) {
        value->share -= 1;
        vlong_value* nv = new vlong_value;
        nv->copy(*value);
        value = nv;
    }
}

vlong::operator unsigned() const { return value->get(0); }

int vlong::is_zero() const { return value->is_zero(); }
int vlong::is_even() const { return (value->get(0) & 1) == 0; }
unsigned vlong::bits() const { return value->bits(); }

int vlong::cf(const vlong& x) const {
    const int neg = negative && !is_zero();
    const int xneg = x.negative && !x.is_zero();
    if (neg != xneg) return neg ? -1 : 1;
    const int c = value->cf(*x.value);
    return neg ? -c : c;
}

// x with its sign taken as xNegative: addition, and subtraction with the sign flipped.
vlong& vlong::addSigned(const vlong& x, int xNegative) {
    if (negative == xNegative) {
        docopy();
        value->add(*x.value);
    } else if (value->cf(*x.value) >= 0) {
        docopy();
        value->subtract(*x.value);
    } else {
        vlong t = *this;
        *this = x;
        negative = xNegative;
        docopy();
        value->subtract(*t.value);
    }
    if (is_zero()) negative = 0;
    return *this;
}

vlong& vlong::operator+=(const vlong& x) { return addSigned(x, x.negative); }

vlong& vlong::operator-=(const vlong& x) { return addSigned(x, 1 - x.negative); }

vlong operator+(const vlong& x, const vlong& y) {
    vlong r = x;
    r += y;
    return r;
}

vlong operator-(const vlong& x, const vlong& y) {
    vlong r = x;
    r -= y;
    return r;
}

vlong operator*(const vlong& x, const vlong& y) {
    vlong r;
    r.value->mul(*x.value, *y.value);
    r.negative = r.is_zero() ? 0 : x.negative ^ y.negative;
    return r;
}

vlong operator/(const vlong& x, const vlong& y) {
    vlong r;
    vlong_value rem;
    r.value->divide(*x.value, *y.value, rem);
    r.negative = r.is_zero() ? 0 : x.negative ^ y.negative;
    return r;
}

vlong operator%(const vlong& x, const vlong& y) {
    vlong r;
    vlong_value q;
    q.divide(*x.value, *y.value, *r.value);
    r.negative = r.is_zero() ? 0 : x.negative;
    return r;
}

vlong operator<<(const vlong& x, unsigned n) {
    vlong r = x;
    r.docopy();
    r.value->shl(n);
    return r;
}

vlong operator>>(const vlong& x, unsigned n) {
    vlong r = x;
    r.docopy();
    r.value->shr(n);
    if (r.is_zero()) r.negative = 0;
    return r;
}

unsigned vlong::size() const { return 4 * value->n; }

void vlong::to_hex(unsigned char* buffer, unsigned length) const {
    if (!buffer) return;
    std::memset(buffer, 0, length);
    const unsigned sz = size();
    if (length < sz) return;
    unsigned char* p = buffer + length;
    for (unsigned i = 0; i < value->n; ++i) {
        const unit w = value->get(i);
        *--p = static_cast<unsigned char>(w);
        *--p = static_cast<unsigned char>(w >> 8);
        *--p = static_cast<unsigned char>(w >> 16);
        *--p = static_cast<unsigned char>(w >> 24);
    }
}

void vlong::from_hex(const unsigned char* bytes, unsigned length) {
    docopy();
    negative = 0;
    value->init(0);
    if (!bytes) return;
    unsigned word = 0;
    for (unsigned end = length; end > 0; ++word) {
        const unsigned start = end >= 4 ? end - 4 : 0;
        unit w = 0;
        for (unsigned i = start; i < end; ++i) w = (w << 8) | bytes[i];
        value->set(word, w);
        end = start;
    }
}

void vlong::from_ascii(const char* text) {
    docopy();
    negative = 0;
    value->init(0);
    if (!text) return;
    const vlong sixteen(16);
    vlong r;
    for (const char* c = text; *c; ++c) {
        unsigned d = 0;
        if (*c >= '0' && *c <= '9')
            d = static_cast<unsigned>(*c - '0');
        else if (*c >= 'a' && *c <= 'f')
            d = static_cast<unsigned>(*c - 'a' + 10);
        else if (*c >= 'A' && *c <= 'F')
            d = static_cast<unsigned>(*c - 'A' + 10);
        r = r * sixteen + vlong(d);
    }
    *this = r;
}

void vlong::from_str(const char* text, unsigned count) {
    docopy();
    negative = 0;
    value->init(0);
    if (!text) return;
    const vlong base(256);
    vlong r;
    unsigned len = 0;
    for (const char* c = text; *c; ++c, ++len) r = r * base + vlong(static_cast<unsigned char>(*c));
    for (unsigned i = len; i < count; ++i) r = r * base;
    *this = r;
}

void vlong::print(const char* suffix) const {
    static const char kDigits[] = "0123456789ABCDEF";
    const unsigned words = value->n;
    char* text = new char[8 * words + 1];
    char* p = text;
    for (unsigned i = words; i-- > 0;) {
        const unit w = value->get(i);
        for (int s = 28; s >= 0; s -= 4) *p++ = kDigits[(w >> s) & 15];
    }
    *p = 0;
    std::printf("%s%s", text, suffix ? suffix : "");
    delete[] text;
}

// ============================================================ monty

monty::monty(const vlong& M) : m(M), N(0), s(0), n0(0) {
    // Montgomery reduction needs an odd modulus; 1 has no room for it.
    if (M.is_neg() || M.is_even() || M.bits() < 2) libapdu::ExternalRaise(libapdu::kSwBadArgument, kSource, __LINE__);
    // R: the smallest power of two not below m (m is odd, so above it).
    N = M.bits();
    R = vlong(1) << N;
    // m^-1 mod R by Newton's iteration (each step doubles the correct low
    // bits); the same value the extended Euclidean algorithm gives, in a few
    // truncated products instead of a long run of divisions.
    vlong inv(1);
    for (unsigned p = 1; p < N;) {
        p = p * 2 < N ? p * 2 : N;
        vlong t;
        t.value->fast_mul(*m.value, *inv.value, p);  // m * inv mod 2^p
        // inv = inv * (2 - m * inv) mod 2^p
        vlong two = vlong(1) << p;
        two += vlong(2);
        two -= t;
        vlong ni;
        ni.value->fast_mul(*inv.value, *two.value, p);
        inv = ni;
    }
    n1 = R - inv;
    // R^-1 mod m = (m * n1 + 1) / R, since m * n1 = -1 mod R.
    R1 = (m * n1 + vlong(1)) >> N;
    s = m.value->n;
    n0 = n1.value->get(0);
    // The work numbers are sized once: T holds the upper words of each sum,
    // k the words of (T * n1) mod R.
    T.docopy();
    k.docopy();
    T.value->reserve(s + 2);
    k.value->reserve(s);
    mr.reserve(s);
    yr.reserve(s);
    Reverse(mr.a, m.value->a, s);
}

// r = the sum's words shifted down by the b bits left of N, minus m once when
// not below it. The sum is below 2m, so one subtraction is enough.
void monty::finish(unit* r) {
    const unit* w = T.value->a;
    const unit* mw = m.value->a;
    const unsigned b = N - 32 * (s - 1);
    unit top;
    if (b == 32) {
        for (unsigned j = 0; j < s; ++j) r[j] = w[j + 1];
        top = w[s + 1];
    } else {
        for (unsigned j = 0; j < s; ++j) r[j] = (w[j] >> b) | (w[j + 1] << (32 - b));
        top = (w[s] >> b) | (w[s + 1] << (32 - b));
    }
    bool geq = top != 0;
    if (!geq) {
        geq = true;  // equal counts as not below
        for (unsigned j = s; j-- > 0;)
            if (r[j] != mw[j]) {
                geq = r[j] > mw[j];
                break;
            }
    }
    if (!geq) return;
    uint64_t borrow = 0;
    for (unsigned j = 0; j < s; ++j) {
        const uint64_t d = static_cast<uint64_t>(r[j]) - mw[j] - borrow;
        r[j] = static_cast<unit>(d);
        borrow = (d >> 32) & 1;
    }
}

void monty::store(flex_unit& v, const unit* w) const {
    v.reserve(s);
    std::memcpy(v.a, w, sizeof(unit) * s);
    for (unsigned i = s; i < v.n; ++i) v.a[i] = 0;
    v.n = s;
    v.trim();
}

void monty::mulWords(unit* r, const unit* x, const unit* y) {
    Reverse(yr.a, y, s);
    MontMulColumns(T.value->a, k.value->a, x, yr.a, mr.a, s, n0, N - 32 * (s - 1));
    finish(r);
}

void monty::sqrWords(unit* r, const unit* x) {
    Reverse(yr.a, x, s);
    MontSqrColumns(T.value->a, k.value->a, x, yr.a, mr.a, s, n0, N - 32 * (s - 1));
    finish(r);
}

namespace {

// An operand of s words, zero above its used words, in a buffer wiped on exit.
struct Operand : flex_unit {
    Operand(const flex_unit& v, unsigned s) {
        // A value of more than s words is not below R: outside the arithmetic.
        if (v.n > s) libapdu::ExternalRaise(libapdu::kSwBadArgument, kSource, __LINE__);
        reserve(s + 1);
        for (unsigned i = 0; i < s; ++i) words()[i] = v.get(i);
        n = s;
    }
    unit* words() { return a; }
};

}  // namespace

void monty::mul(vlong& x, const vlong& y) {
    const bool square = x.value == y.value;
    Operand xs(*x.value, s);
    x.docopy();
    if (square) {
        sqrWords(xs.words(), xs.words());
    } else {
        Operand ys(*y.value, s);
        mulWords(xs.words(), xs.words(), ys.words());
    }
    store(*x.value, xs.words());
    x.negative = 0;
}

vlong monty::exp(const vlong& x, const vlong& e) {
    // Both running numbers stay in s-word buffers for the whole loop.
    Operand result(*(R - m).value, s);  // one, in Montgomery form
    Operand t(*((x * R) % m).value, s);
    const unsigned bits = e.bits();
    for (unsigned i = 0; i < bits; ++i) {
        if (e.value->test(i)) mulWords(result.words(), result.words(), t.words());
        if (i + 1 < bits) sqrWords(t.words(), t.words());
    }
    // result * R^-1 mod m: one Montgomery reduction of result gives exactly
    // that, without a long division of the product by m.
    Operand one(*vlong(1).value, s);
    mulWords(result.words(), result.words(), one.words());
    vlong r;
    store(*r.value, result.words());
    return r;
}

vlong modexp(const vlong& x, const vlong& e, const vlong& m) {
    if (m.is_neg() || m.is_zero() || m.is_even() || e.is_neg())
        libapdu::ExternalRaise(libapdu::kSwBadArgument, kSource, __LINE__);
    if (m == vlong(1)) return vlong(0);
    // x^0 is 1, also for x = 0.
    if (e.is_zero()) return vlong(1);
    vlong base = x % m;
    if (base.is_neg()) base += m;
    monty me(m);
    return me.exp(base, e);
}

vlong gcd(const vlong& X, const vlong& Y) {
    vlong x = X, y = Y;
    for (;;) {
        if (y.is_zero()) return x;
        x = x % y;
        if (x.is_zero()) return y;
        y = y % x;
    }
}

vlong modinv(const vlong& a, const vlong& m) {
    vlong j = 1, i = 0, b = m, c = a, x, y;
    while (!c.is_zero()) {
        x = b / c;
        y = b - x * c;
        b = c;
        c = y;
        y = j;
        j = i - j * x;
        i = y;
    }
    if (i.is_neg()) i += m;
    return i;
}
