// Runs each of our primitives beside its OpenSSL counterpart and prints how
// much of OpenSSL's speed ours reaches.
#define OPENSSL_SUPPRESS_DEPRECATED 1

#include <benchmark/benchmark.h>
#include <openssl/bn.h>
#include <openssl/des.h>
#include <openssl/evp.h>
#include <openssl/pkcs12.h>
#include <openssl/rand.h>

#include <cstdio>
#include <map>
#include <string>
#include <vector>

#include "crypto/cvcrypto.h"
#include "crypto/des.h"
#include "crypto/md5.h"
#include "crypto/vlong.h"

using namespace libapdu;

namespace {

std::vector<unsigned char> Random(size_t n) {
    std::vector<unsigned char> b(n);
    RAND_bytes(b.data(), static_cast<int>(n));
    return b;
}

const std::vector<unsigned char> kKey24 = Random(24);
const std::vector<unsigned char> kIv = Random(8);
const std::vector<unsigned char> k4K = Random(4096);

void Ours_DesEcb(benchmark::State& s) {
    tagDesContext ctx;
    des_initialize(kKey24.data(), &ctx);
    unsigned char block[8] = {1, 2, 3, 4, 5, 6, 7, 8};
    for (auto _ : s) {
        des_encrypt(&ctx, block);
        benchmark::DoNotOptimize(block);
    }
    s.SetBytesProcessed(static_cast<int64_t>(s.iterations()) * 8);
}
void OpenSSL_DesEcb(benchmark::State& s) {
    DES_cblock k;
    std::copy(kKey24.begin(), kKey24.begin() + 8, k);
    DES_key_schedule ks;
    DES_set_key_unchecked(&k, &ks);
    DES_cblock block = {1, 2, 3, 4, 5, 6, 7, 8};
    for (auto _ : s) {
        DES_ecb_encrypt(&block, &block, &ks, DES_ENCRYPT);
        benchmark::DoNotOptimize(block);
    }
    s.SetBytesProcessed(static_cast<int64_t>(s.iterations()) * 8);
}

void Ours_Des3Cbc4K(benchmark::State& s) {
    std::vector<unsigned char> out(4096 + 8);
    for (auto _ : s) {
        cvCryptoContext ctx;
        int n = 0;
        cvCryptoCbcInit(&ctx, cvCryptoAlgDES3, 0, kKey24.data(), 24, kIv.data(), 8);
        cvCryptoCbcFinal(&ctx, k4K.data(), 4096, cvPadNone, out.data(), &n);
        cvCryptoFree(&ctx);
        benchmark::DoNotOptimize(out.data());
    }
    s.SetBytesProcessed(static_cast<int64_t>(s.iterations()) * 4096);
}
void OpenSSL_Des3Cbc4K(benchmark::State& s) {
    std::vector<unsigned char> out(4096 + 8);
    EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
    for (auto _ : s) {
        int n = 0, m = 0;
        EVP_EncryptInit_ex(ctx, EVP_des_ede3_cbc(), nullptr, kKey24.data(), kIv.data());
        EVP_CIPHER_CTX_set_padding(ctx, 0);
        EVP_EncryptUpdate(ctx, out.data(), &n, k4K.data(), 4096);
        EVP_EncryptFinal_ex(ctx, out.data() + n, &m);
        benchmark::DoNotOptimize(out.data());
    }
    EVP_CIPHER_CTX_free(ctx);
    s.SetBytesProcessed(static_cast<int64_t>(s.iterations()) * 4096);
}

void Ours_Md54K(benchmark::State& s) {
    unsigned char d[16];
    for (auto _ : s) {
        libapdu::MD5_CTX ctx;
        MD5Init(&ctx);
        MD5Update(&ctx, k4K.data(), 4096);
        MD5Final(d, &ctx);
        benchmark::DoNotOptimize(d);
    }
    s.SetBytesProcessed(static_cast<int64_t>(s.iterations()) * 4096);
}
void OpenSSL_Md54K(benchmark::State& s) {
    unsigned char d[16];
    unsigned int n = 0;
    EVP_MD_CTX* ctx = EVP_MD_CTX_new();
    for (auto _ : s) {
        EVP_DigestInit_ex(ctx, EVP_md5(), nullptr);
        EVP_DigestUpdate(ctx, k4K.data(), 4096);
        EVP_DigestFinal_ex(ctx, d, &n);
        benchmark::DoNotOptimize(d);
    }
    EVP_MD_CTX_free(ctx);
    s.SetBytesProcessed(static_cast<int64_t>(s.iterations()) * 4096);
}

const unsigned char kPin[] = "123456";
const std::vector<unsigned char> kSalt = Random(20);

void Ours_Pkcs12_999(benchmark::State& s) {
    unsigned char out[24];
    for (auto _ : s) {
        cvCryptoPbePkcs12(cvCryptoAlgSHA1, kPin, 6, kSalt.data(), 20, 999, 1, out, 24);
        benchmark::DoNotOptimize(out);
    }
}
void OpenSSL_Pkcs12_999(benchmark::State& s) {
    unsigned char out[24];
    for (auto _ : s) {
        PKCS12_key_gen_asc(reinterpret_cast<const char*>(kPin), 6, const_cast<unsigned char*>(kSalt.data()), 20, 1,
                           999, 24, out, EVP_sha1());
        benchmark::DoNotOptimize(out);
    }
}

struct ModexpCase {
    std::vector<unsigned char> m, x, e;
    explicit ModexpCase(unsigned bits) {
        m = Random(bits / 8);
        m[0] |= 0x80;
        m.back() |= 1;
        x = Random(bits / 8 - 1);
        e = Random(20);  // 160-bit exponents, as the key agreement draws them
    }
};

void Ours_Modexp(benchmark::State& s) {
    const ModexpCase c(static_cast<unsigned>(s.range(0)));
    const vlong m(c.m.data(), static_cast<unsigned>(c.m.size())), x(c.x.data(), static_cast<unsigned>(c.x.size())),
        e(c.e.data(), static_cast<unsigned>(c.e.size()));
    for (auto _ : s) {
        vlong r = modexp(x, e, m);
        benchmark::DoNotOptimize(r);
    }
}
void OpenSSL_Modexp(benchmark::State& s) {
    const ModexpCase c(static_cast<unsigned>(s.range(0)));
    BIGNUM* m = BN_bin2bn(c.m.data(), static_cast<int>(c.m.size()), nullptr);
    BIGNUM* x = BN_bin2bn(c.x.data(), static_cast<int>(c.x.size()), nullptr);
    BIGNUM* e = BN_bin2bn(c.e.data(), static_cast<int>(c.e.size()), nullptr);
    BIGNUM* r = BN_new();
    BN_CTX* ctx = BN_CTX_new();
    for (auto _ : s) {
        BN_mod_exp(r, x, e, m, ctx);
        benchmark::DoNotOptimize(r);
    }
    BN_CTX_free(ctx);
    BN_free(m);
    BN_free(x);
    BN_free(e);
    BN_free(r);
}

BENCHMARK(Ours_DesEcb);
BENCHMARK(OpenSSL_DesEcb);
BENCHMARK(Ours_Des3Cbc4K);
BENCHMARK(OpenSSL_Des3Cbc4K);
BENCHMARK(Ours_Md54K);
BENCHMARK(OpenSSL_Md54K);
BENCHMARK(Ours_Pkcs12_999);
BENCHMARK(OpenSSL_Pkcs12_999);
BENCHMARK(Ours_Modexp)->Arg(1024)->Arg(1536)->Arg(2040)->Unit(benchmark::kMicrosecond);
BENCHMARK(OpenSSL_Modexp)->Arg(1024)->Arg(1536)->Arg(2040)->Unit(benchmark::kMicrosecond);

// Keeps the time per iteration of every run, to print the pairs' ratios.
class RatioReporter : public benchmark::ConsoleReporter {
public:
    void ReportRuns(const std::vector<Run>& runs) override {
        for (const auto& r : runs)
            if (r.run_type == Run::RT_Iteration && !r.error_occurred)
                m_times[r.benchmark_name()] = r.GetAdjustedCPUTime();
        ConsoleReporter::ReportRuns(runs);
    }
    void PrintRatios() const {
        std::printf("\n%-28s %14s\n", "primitive", "OpenSSL/ours");
        for (const auto& t : m_times) {
            const std::string& name = t.first;
            if (name.rfind("Ours_", 0) != 0) continue;
            const auto ref = m_times.find("OpenSSL_" + name.substr(5));
            if (ref == m_times.end() || t.second <= 0) continue;
            // Above 1: ours is faster; 0.5 means half of OpenSSL's throughput.
            std::printf("%-28s %14.2f\n", name.substr(5).c_str(), ref->second / t.second);
        }
    }

private:
    std::map<std::string, double> m_times;
};

}  // namespace

int main(int argc, char** argv) {
    benchmark::Initialize(&argc, argv);
    RatioReporter reporter;
    benchmark::RunSpecifiedBenchmarks(&reporter);
    reporter.PrintRatios();
    benchmark::Shutdown();
    return 0;
}
