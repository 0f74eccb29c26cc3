#include "vlong.h"

#include <cstdio>
#include <cstring>

#include "libapdu.internal.h"

namespace {

const wchar_t kSource[] = LIBAPDU_SOURCE("crypto/vlong");

typedef flex_unit::unit unit;

void Wipe(unit* p, unsigned words) { libapdu::SecureWipe(p, sizeof(unit) * words); }

// r[0..nb) += a * b[0..nb); returns the carry out of r[nb - 1].
inline unit MulAddRow(unit* r, const unit* b, unsigned nb, unit a) {
    uint64_t c = 0;
    unsigned j = 0;
    for (; j + 4 <= nb; j += 4) {
        c += static_cast<uint64_t>(a) * b[j] + r[j];
        r[j] = static_cast<unit>(c);
        c >>= 32;
        c += static_cast<uint64_t>(a) * b[j + 1] + r[j + 1];
        r[j + 1] = static_cast<unit>(c);
        c >>= 32;
        c += static_cast<uint64_t>(a) * b[j + 2] + r[j + 2];
        r[j + 2] = static_cast<unit>(c);
        c >>= 32;
        c += static_cast<uint64_t>(a) * b[j + 3] + r[j + 3];
        r[j + 3] = static_cast<unit>(c);
        c >>= 32;
    }
    for (; j < nb; ++j) {
        c += static_cast<uint64_t>(a) * b[j] + r[j];
        r[j] = static_cast<unit>(c);
        c >>= 32;
    }
    return static_cast<unit>(c);
}

// r[0..limit) = the lowest `limit` words of x * y; r must not overlap x or y.
void MulWords(unit* r, const unit* x, unsigned nx, const unit* y, unsigned ny, unsigned limit) {
    std::memset(r, 0, sizeof(unit) * limit);
    if (nx > limit) nx = limit;
    for (unsigned i = 0; i < nx; ++i) {
        if (x[i] == 0) continue;
        const unsigned row = ny < limit - i ? ny : limit - i;
        const unit c = MulAddRow(r + i, y, row, x[i]);
        if (i + row < limit) r[i + row] = c;
    }
}

// r[0..2n) = x * x: the cross products once, doubled, then the squares.
void SqrWords(unit* r, const unit* x, unsigned n) {
    std::memset(r, 0, sizeof(unit) * 2 * n);
    for (unsigned i = 0; i + 1 < n; ++i) r[i + n] = MulAddRow(r + 2 * i + 1, x + i + 1, n - i - 1, x[i]);
    unit top = 0;
    for (unsigned i = 0; i < 2 * n; ++i) {
        const unit w = r[i];
        r[i] = (w << 1) | top;
        top = w >> 31;
    }
    uint64_t c = 0;
    for (unsigned i = 0; i < n; ++i) {
        const uint64_t sq = static_cast<uint64_t>(x[i]) * x[i];
        c += static_cast<uint64_t>(r[2 * i]) + static_cast<unit>(sq);
        r[2 * i] = static_cast<unit>(c);
        c >>= 32;
        c += static_cast<uint64_t>(r[2 * i + 1]) + (sq >> 32);
        r[2 * i + 1] = static_cast<unit>(c);
        c >>= 32;
    }
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
    // Shift-and-subtract long division. The divisor is shifted as far as it
    // fits below the remainder in one step (the same place that doubling
    // finds), then halved once per quotient bit.
    vlong_value r, d;
    r.copy(x);
    d.copy(y);
    init(0);
    if (r.cf(d) >= 0) {
        unsigned s = r.bits() - d.bits();
        d.shl(s);
        if (d.cf(r) > 0) {
            d.shr(1);
            --s;
        }
        reserve(s / 32 + 1);
        for (;;) {
            if (r.cf(d) >= 0) {
                r.subtract(d);
                set(s / 32, get(s / 32) | (static_cast<unit>(1) << (s % 32)));
            }
            if (s == 0) break;
            d.shr(1);
            --s;
        }
    }
    rem.copy(r);
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

vlong& vlong::operator+=(const vlong& x) {
    if (negative == x.negative) {
        docopy();
        value->add(*x.value);
    } else if (value->cf(*x.value) >= 0) {
        docopy();
        value->subtract(*x.value);
    } else {
        vlong t = *this;
        *this = x;
        docopy();
        value->subtract(*t.value);
    }
    if (is_zero()) negative = 0;
    return *this;
}

vlong& vlong::operator-=(const vlong& x) {
    if (negative != x.negative) {
        docopy();
        value->add(*x.value);
    } else if (value->cf(*x.value) >= 0) {
        docopy();
        value->subtract(*x.value);
    } else {
        vlong t = *this;
        *this = x;
        negative = 1 - t.negative;
        docopy();
        value->subtract(*t.value);
    }
    if (is_zero()) negative = 0;
    return *this;
}

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

monty::monty(const vlong& M) : m(M), N(0) {
    // Montgomery reduction needs an odd modulus; 1 has no room for it.
    if (M.is_neg() || M.is_even() || M.bits() < 2) libapdu::ExternalRaise(libapdu::kSwBadArgument, kSource, __LINE__);
    // R: the smallest power of two not below m (m is odd, so above it).
    N = M.bits();
    R = vlong(1) << N;
    // m^-1 mod R by Newton's iteration (each step doubles the correct low
    // bits); the same value the extended Euclidean algorithm gives, in a few
    // truncated products instead of a long run of divisions.
    vlong inv(1), two_minus;
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
}

void monty::mul(vlong& x, const vlong& y) {
    // T = x * y
    T.docopy();
    T.value->fast_mul(*x.value, *y.value, 2 * N);
    // k = (T * n1) mod R
    k.docopy();
    k.value->fast_mul(*T.value, *n1.value, N);
    // x = (T + k * m) / R, the k * m product added into T in place.
    x.docopy();
    vlong_value& t = *T.value;
    const unsigned words = 2 * ((N + 31) / 32) + 2;
    t.reserve(words);
    for (unsigned i = t.n; i < words; ++i) t.a[i] = 0;
    const vlong_value& kv = *k.value;
    const vlong_value& mv = *m.value;
    for (unsigned i = 0; i < kv.n; ++i) {
        if (kv.a[i] == 0) continue;
        unit c = MulAddRow(t.a + i, mv.a, mv.n, kv.a[i]);
        for (unsigned j = i + mv.n; c && j < words; ++j) {
            const uint64_t s = static_cast<uint64_t>(t.a[j]) + c;
            t.a[j] = static_cast<unit>(s);
            c = static_cast<unit>(s >> 32);
        }
    }
    t.n = words;
    t.trim();
    t.shr(N);
    x.value->copy(t);
    x.negative = 0;
    if (x.value->cf(mv) >= 0) x.value->subtract(mv);
}

vlong monty::exp(const vlong& x, const vlong& e) {
    vlong result = R - m;  // one, in Montgomery form
    vlong t = (x * R) % m;
    const unsigned bits = e.bits();
    for (unsigned i = 0; i < bits; ++i) {
        if (e.value->test(i)) mul(result, t);
        if (i + 1 < bits) mul(t, t);
    }
    // result * R^-1 mod m
    return (result * R1) % m;
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
