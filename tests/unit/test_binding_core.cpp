// The binding's lock, shared pointer and directory names.
#include <gtest/gtest.h>

#include <thread>

#include "APDUTokenModule.h"
#include "CriticalSection.h"
#include "Z6EZSender.h"
#include "raised.h"

using KOVA::APDUSupport::CAPDUTokenModule;

TEST(CriticalSection, IsRecursiveAndFreedByTheMatchingLeaves) {
    _RTL_CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EnterCriticalSection(&cs);
    EnterCriticalSection(&cs);
    bool other = true;
    std::thread([&] { other = TryEnterCriticalSection(&cs); }).join();
    EXPECT_FALSE(other);  // held by this thread
    LeaveCriticalSection(&cs);
    LeaveCriticalSection(&cs);
    std::thread([&] {
        EnterCriticalSection(&cs);
        LeaveCriticalSection(&cs);
        other = true;
    }).join();
    EXPECT_TRUE(other);
    DeleteCriticalSection(&cs);
}

// A leave that does not match an entry of the calling thread is refused with
// FFFF and changes nothing: the holder keeps the section, and a section nobody
// holds stays free.
TEST(CriticalSection, LeaveByAThreadThatDoesNotHoldItRaisesAndChangesNothing) {
    _RTL_CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EXPECT_EQ(CodeOf([&] { LeaveCriticalSection(&cs); }), 0xFFFF);

    EnterCriticalSection(&cs);
    unsigned short code = 0;
    bool entered = true;
    std::thread([&] {
        code = CodeOf([&] { LeaveCriticalSection(&cs); });
        entered = TryEnterCriticalSection(&cs);
    }).join();
    EXPECT_EQ(code, 0xFFFF);
    EXPECT_FALSE(entered);  // still held by this thread
    LeaveCriticalSection(&cs);
    std::thread([&] {
        entered = TryEnterCriticalSection(&cs);
        if (entered) LeaveCriticalSection(&cs);
    }).join();
    EXPECT_TRUE(entered);
    EXPECT_EQ(WaitForSingleObject(&cs, 0), 0u);
    DeleteCriticalSection(&cs);
}

// The scoped lock raises a failed leave on the normal path, and lets an
// exception already on its way pass alone.
TEST(CriticalSection, ScopedLockRaisesAFailedLeaveOnlyWhenNothingElseIsRaised) {
    using KOVA::APDUSupport::CAutoCSLock;
    _RTL_CRITICAL_SECTION cs;
    InitializeCriticalSection(&cs);
    EXPECT_EQ(CodeOf([&] {
                  CAutoCSLock guard(cs);
                  LeaveCriticalSection(&cs);  // the guard's own leave now fails
              }),
              0xFFFF);
    EXPECT_EQ(CodeOf([&] {
                  CAutoCSLock guard(cs);
                  LeaveCriticalSection(&cs);
                  libapdu::ExternalRaise(0x6A82, L"", 0);
              }),
              0x6A82);
    DeleteCriticalSection(&cs);
}

namespace {
struct Counted {
    explicit Counted(int& deletions) : deletions(deletions) {}
    virtual ~Counted() { ++deletions; }
    int& deletions;
};
}  // namespace

TEST(SharedPointer, LastCopyDeletesAndSelfAssignmentKeeps) {
    int deletions = 0;
    {
        sh_ptr<Counted> a(new Counted(deletions));
        a = a;
        EXPECT_EQ(deletions, 0);
        sh_ptr<Counted> b(a), c(a);
        EXPECT_EQ(a.use_count(), 3);
    }
    EXPECT_EQ(deletions, 1);
}

TEST(SharedPointer, CountStaysExactAcrossThreads) {
    int deletions = 0;
    sh_ptr<Counted> shared(new Counted(deletions));
    std::vector<std::thread> threads;
    for (int t = 0; t < 8; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 20000; ++i) {
                sh_ptr<Counted> copy(shared);
                sh_ptr<Counted> other(copy);
                other = copy;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(shared.use_count(), 1);
    EXPECT_EQ(deletions, 0);
}

TEST(ConvertDir, ReadsOneHexNumberByItsTrueValue) {
    struct Case {
        const char* name;
        long expected;  // -1: refused with 80070003
    } cases[] = {
        {"1a", 0x1A},  {"1A", 0x1A},     {"ffff", 0xFFFF}, {"10000", -1},     {"100000000", -1},
        {"", 0},       {"zz", 0},        {"12zz", 0x12},   {"0x1f", 0x1F},    {" 7", 7},
        {"-1", -1},    {"+1", -1},       {"00000000000000000001", 1},
    };
    for (const Case& c : cases) {
        try {
            EXPECT_EQ(CAPDUTokenModule::ConvertDir(c.name), c.expected) << c.name;
        } catch (const CAException& e) {
            EXPECT_EQ(c.expected, -1) << c.name;
            EXPECT_EQ(e.code(), static_cast<long>(0x80070003L)) << c.name;
        }
    }
}

// A call on a handle that names no token must not go on without the token's call lock:
// it is refused where the lock would be taken, before the Java parameters are handed on.
TEST(TokenModuleCall, HandleThatNamesNoTokenIsRefusedWhereTheLockIsTaken) {
    CAPDUTokenModule::CInstanceRef module;
    for (long long key : {0LL, 1LL, -1LL, 0x7FFFFFFFFFFFFFFFLL}) {
        try {
            CAPDUTokenModule::CTokenCall call(*module, key);
            ADD_FAILURE() << "handle " << key << " was let through";
        } catch (const CAException& e) {
            EXPECT_EQ(e.code(), static_cast<long>(0x80070490L)) << key;
        }
        // Nothing was registered on the way.
        EXPECT_EQ(module->NumberOfTokens(), 0u);
    }
    module.ReleaseIfUnused();
}

// The transport's length rewrites: the forms the library builds that the Java
// side refuses become forms it takes; anything it takes goes out unchanged.
TEST(TransportRewrite, TheFormsTheJavaSideRefuses) {
    using KOVA::APDUSupport::Z6EZSender;
    auto extended = [](size_t n, std::initializer_list<unsigned char> le) {
        libapdu::TBytes c = {0x80, 0x2A, 0x00, 0x00, 0x00, static_cast<unsigned char>(n >> 8),
                             static_cast<unsigned char>(n & 0xFF)};
        c.resize(c.size() + n, 0x5A);
        c.insert(c.end(), le);
        return c;
    };
    struct Case {
        const char* what;
        libapdu::TBytes command, sent;
    } cases[] = {
        {"empty short Lc before Le", {0x00, 0xB0, 0x00, 0x00, 0x00, 0x10}, {0x00, 0xB0, 0x00, 0x00, 0x10}},
        {"extended Lc, one-byte Le", extended(256, {0x00}), extended(256, {0x00, 0x00})},
        {"extended Lc, two-byte Le", extended(256, {0x00, 0x00}), extended(256, {0x00, 0x00})},
        {"short Lc, two-byte Le", {0x84, 0xCA, 0x00, 0x00, 0x01, 0x07, 0x00, 0x30},
         {0x84, 0xCA, 0x00, 0x00, 0x01, 0x07, 0x30}},
        {"short Lc, two-byte Le above 256", {0x84, 0xCA, 0x00, 0x00, 0x01, 0x07, 0x01, 0x20},
         {0x84, 0xCA, 0x00, 0x00, 0x01, 0x07, 0x00}},
        {"short Lc and Le", {0x80, 0x1A, 0x00, 0x00, 0x02, 0x01, 0x02, 0x00},
         {0x80, 0x1A, 0x00, 0x00, 0x02, 0x01, 0x02, 0x00}},
        {"header only", {0x00, 0xA4, 0x00, 0x00}, {0x00, 0xA4, 0x00, 0x00}},
    };
    for (const Case& c : cases) EXPECT_EQ(Z6EZSender::rewrite(c.command), c.sent) << c.what;
}
