#include "vlong.h"

#include <atomic>
#include <cstdio>
#include <cstring>

#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && !defined(__clang__)
#include <immintrin.h>
#endif

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

// The Montgomery word loops (vlong_rows.inc) in blocks of eight 64-bit lanes,
// each lane holding one 32 x 32-bit product: built for AVX-512, for AVX2 and
// in plain C++, and the processor's best is picked once.
namespace rows_plain {
struct V {
    struct T {
        uint64_t l[8];
    };
    static T zero() { return T{}; }
    static T load(const uint64_t* p) {
        T r;
        std::memcpy(r.l, p, sizeof r.l);
        return r;
    }
    static void store(uint64_t* p, const T& a) { std::memcpy(p, a.l, sizeof a.l); }
    static T set1(uint64_t x) {
        T r;
        for (unsigned i = 0; i < 8; ++i) r.l[i] = x;
        return r;
    }
    static T mul(const T& a, const T& b) {
        T r;
        for (unsigned i = 0; i < 8; ++i) r.l[i] = static_cast<uint64_t>(static_cast<unit>(a.l[i])) * static_cast<unit>(b.l[i]);
        return r;
    }
    static T add(const T& a, const T& b) {
        T r;
        for (unsigned i = 0; i < 8; ++i) r.l[i] = a.l[i] + b.l[i];
        return r;
    }
    static T band(const T& a, const T& b) {
        T r;
        for (unsigned i = 0; i < 8; ++i) r.l[i] = a.l[i] & b.l[i];
        return r;
    }
    static T srl32(const T& a) {
        T r;
        for (unsigned i = 0; i < 8; ++i) r.l[i] = a.l[i] >> 32;
        return r;
    }
    static T sll1(const T& a) {
        T r;
        for (unsigned i = 0; i < 8; ++i) r.l[i] = a.l[i] << 1;
        return r;
    }
};
#include "vlong_rows.inc"
}  // namespace rows_plain

// The vector builds rely on GCC's target pragmas; other compilers get the plain loops.
#if (defined(__x86_64__) || defined(__i386__)) && defined(__GNUC__) && !defined(__clang__)
#define LIBAPDU_VLONG_X86 1

namespace rows_avx2 {
#pragma GCC push_options
#pragma GCC target("avx2")
struct V {
    struct T {
        __m256i a, b;
    };
    static T zero() { return T{_mm256_setzero_si256(), _mm256_setzero_si256()}; }
    static T load(const uint64_t* p) {
        return T{_mm256_loadu_si256(reinterpret_cast<const __m256i*>(p)),
                 _mm256_loadu_si256(reinterpret_cast<const __m256i*>(p + 4))};
    }
    static void store(uint64_t* p, const T& x) {
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p), x.a);
        _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + 4), x.b);
    }
    static T set1(uint64_t x) {
        const __m256i v = _mm256_set1_epi64x(static_cast<long long>(x));
        return T{v, v};
    }
    static T mul(const T& x, const T& y) { return T{_mm256_mul_epu32(x.a, y.a), _mm256_mul_epu32(x.b, y.b)}; }
    static T add(const T& x, const T& y) { return T{_mm256_add_epi64(x.a, y.a), _mm256_add_epi64(x.b, y.b)}; }
    static T band(const T& x, const T& y) { return T{_mm256_and_si256(x.a, y.a), _mm256_and_si256(x.b, y.b)}; }
    static T srl32(const T& x) { return T{_mm256_srli_epi64(x.a, 32), _mm256_srli_epi64(x.b, 32)}; }
    static T sll1(const T& x) { return T{_mm256_slli_epi64(x.a, 1), _mm256_slli_epi64(x.b, 1)}; }
};
#include "vlong_rows.inc"
#pragma GCC pop_options
}  // namespace rows_avx2

namespace rows_avx512 {
#pragma GCC push_options
#pragma GCC target("avx512f")
struct V {
    typedef __m512i T;
    static T zero() { return _mm512_setzero_si512(); }
    static T load(const uint64_t* p) { return _mm512_loadu_si512(p); }
    static void store(uint64_t* p, T x) { _mm512_storeu_si512(p, x); }
    static T set1(uint64_t x) { return _mm512_set1_epi64(static_cast<long long>(x)); }
    // The zero-masked forms: GCC 12 warns of the undefined pass-through
    // operand of the plain ones.
    static T mul(T x, T y) { return _mm512_maskz_mul_epu32(0xFF, x, y); }
    static T add(T x, T y) { return _mm512_add_epi64(x, y); }
    static T band(T x, T y) { return _mm512_and_si512(x, y); }
    static T srl32(T x) { return _mm512_maskz_srli_epi64(0xFF, x, 32); }
    static T sll1(T x) { return _mm512_maskz_slli_epi64(0xFF, x, 1); }
};
#include "vlong_rows.inc"
#pragma GCC pop_options
}  // namespace rows_avx512
#endif

struct RowLoops {
    decltype(&rows_plain::ProductRows) product;
    decltype(&rows_plain::SquareRows) square;
    decltype(&rows_plain::ReduceRows) reduce;
};

const RowLoops kPlainRows = {rows_plain::ProductRows, rows_plain::SquareRows, rows_plain::ReduceRows};
#ifdef LIBAPDU_VLONG_X86
const RowLoops kAvx2Rows = {rows_avx2::ProductRows, rows_avx2::SquareRows, rows_avx2::ReduceRows};
const RowLoops kAvx512Rows = {rows_avx512::ProductRows, rows_avx512::SquareRows, rows_avx512::ReduceRows};
#endif

// The build for `which`, or null when the processor cannot run it.
const RowLoops* RowsFor(vlong_rows which) {
#ifdef LIBAPDU_VLONG_X86
    __builtin_cpu_init();
    const bool avx512 = __builtin_cpu_supports("avx512f"), avx2 = __builtin_cpu_supports("avx2");
    switch (which) {
        case vlong_rows_best:
            return avx512 ? &kAvx512Rows : avx2 ? &kAvx2Rows : &kPlainRows;
        case vlong_rows_avx512:
            return avx512 ? &kAvx512Rows : nullptr;
        case vlong_rows_avx2:
            return avx2 ? &kAvx2Rows : nullptr;
        case vlong_rows_plain:
            return &kPlainRows;
    }
    return nullptr;
#else
    return which == vlong_rows_best || which == vlong_rows_plain ? &kPlainRows : nullptr;
#endif
}

std::atomic<const RowLoops*>& CurrentRows() {
    static std::atomic<const RowLoops*> current{RowsFor(vlong_rows_best)};
    return current;
}

const RowLoops& Rows() { return *CurrentRows().load(std::memory_order_relaxed); }

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

bool vlong_use_rows(vlong_rows which) {
    const RowLoops* rows = RowsFor(which);
    if (!rows) return false;
    CurrentRows().store(rows, std::memory_order_relaxed);
    return true;
}

monty::monty(const vlong& M)
    : m(M), N(0), s(0), n0(0), arena(nullptr), arenaWords(0), blocks(0), mp(nullptr), yp(nullptr), xd(nullptr),
      L(nullptr), H(nullptr) {
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
    // Operands: 8 zero lanes, s words, zero lanes up to s rounded to 8 plus 8.
    // Accumulators and the diagonal: blocks of 8 lanes reaching past word 2s
    // by at least the 8 lanes that a row's last block may cover.
    const unsigned s8 = (s + 7) & ~7u;
    const unsigned opWords = s8 + 16;
    blocks = 2 * s8 / 8 + 2;
    arenaWords = 2 * opWords + 3 * 8 * blocks + 8;
    arena = new uint64_t[arenaWords]();
    uint64_t* p = arena;
    while (reinterpret_cast<uintptr_t>(p) % 64) ++p;
    mp = p;
    yp = mp + opWords;
    xd = yp + opWords;
    L = xd + 8 * blocks;
    H = L + 8 * blocks;
    for (unsigned i = 0; i < s; ++i) mp[8 + i] = m.value->a[i];
}

monty::~monty() {
    libapdu::SecureWipe(arena, sizeof(uint64_t) * arenaWords);
    delete[] arena;
}

namespace {

// The s words r with the word top above them, less m once when that number is
// not below m (equal counts as not below). The caller keeps it below 2m, so
// what is left is below m and fits in r.
inline void SubtractIfNotBelow(unit* r, unit top, const unit* mw, unsigned s) {
    bool geq = top != 0;
    if (!geq) {
        geq = true;
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

}  // namespace

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
    SubtractIfNotBelow(r, top, mw, s);
}

void monty::twice(unit* r) const {
    const unit* mw = m.value->a;
    unit top = 0;
    for (unsigned j = 0; j < s; ++j) {
        const unit w = r[j];
        r[j] = (w << 1) | top;
        top = w >> 31;
    }
    SubtractIfNotBelow(r, top, mw, s);
}

void monty::store(flex_unit& v, const unit* w) const {
    v.reserve(s);
    std::memcpy(v.a, w, sizeof(unit) * s);
    for (unsigned i = s; i < v.n; ++i) v.a[i] = 0;
    v.n = s;
    v.trim();
}

// The reduction of the sums in L and H: k word by word, (T + k m) / R, then
// the single conditional subtraction.
void monty::reduce(unit* r) {
    const unsigned b = N - 32 * (s - 1);
    const unit lastMask = b < 32 ? (static_cast<unit>(1) << b) - 1 : ~static_cast<unit>(0);
    Rows().reduce(L, H, mp, T.value->a, k.value->a, s, n0, lastMask);
    finish(r);
}

void monty::mulWords(unit* r, const unit* x, const unit* y) {
    for (unsigned i = 0; i < s; ++i) yp[8 + i] = y[i];
    Rows().product(L, H, x, yp, s, blocks);
    reduce(r);
}

void monty::sqrWords(unit* r, const unit* x) {
    for (unsigned i = 0; i < s; ++i) {
        yp[8 + i] = x[i];
        xd[2 * i] = x[i];
    }
    Rows().square(L, H, yp, xd, s, blocks);
    reduce(r);
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
    vlong base = x;
    if (base.is_neg() || base >= m) {
        base = base % m;
        if (base.is_neg()) base += m;
    }
    // Both running numbers stay in s-word buffers for the whole loop.
    const vlong oneR = R - m;  // one, in Montgomery form
    Operand result(*oneR.value, s);
    // t = x R mod m as the Montgomery product of x and R^2 mod m, which is
    // 2^N in Montgomery form: built from R mod m by doubling and squaring
    // along the bits of N (a square doubles the power of two, a doubling adds
    // one), instead of a long division of x R by m.
    Operand t(*oneR.value, s);
    twice(t.words());  // 2^1
    for (unsigned bit = 32 - static_cast<unsigned>(__builtin_clz(N)) - 1; bit-- > 0;) {
        sqrWords(t.words(), t.words());
        if ((N >> bit) & 1) twice(t.words());
    }
    Operand xs(*base.value, s);
    mulWords(t.words(), xs.words(), t.words());
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
