// Text and byte conversions. The locale ones run in a fresh copy of this test
// program, because the process takes its locale from the environment once.
#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <clocale>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <functional>
#include <thread>

#include "libapdu.internal.h"
#include "raised.h"

using namespace libapdu;

namespace {

const char kInternal[] = "Externals/Internal/LibAPDU/Source/token/libapdu.internal";

void ExpectBadAnswer(const std::function<void()>& f, const std::string& what) {
    auto r = RaisedBy(f);
    ASSERT_TRUE(r) << what << " converted";
    EXPECT_EQ(r->code, 0x6281) << what;
    EXPECT_EQ(r->file, kInternal) << what;
}

TEST(CoreConvert, Utf16ToUtf8) {
    struct Case {
        std::wstring in;
        std::string out;
    };
    const Case cases[] = {
        {L"", ""},
        {L"1234", "1234"},
        {std::wstring{0x00E9}, "\xC3\xA9"},
        {std::wstring{0x20AC}, "\xE2\x82\xAC"},
        {std::wstring{0xD83D, 0xDE00}, "\xF0\x9F\x98\x80"},
        {std::wstring{0x0041, 0x0000, 0x0042}, std::string("A\0B", 3)},
        // Only the low 16 bits of a character are a code unit.
        {std::wstring{0x1F600}, "\xEF\x98\x80"},
    };
    for (const Case& c : cases) EXPECT_EQ(IConv::wchar2utf8(c.in), c.out);
}

TEST(CoreConvert, Utf8ToUtf16) {
    struct Case {
        std::string in;
        std::wstring out;
    };
    const Case cases[] = {
        {"", L""},
        {"1234", L"1234"},
        {"\xC3\xA9", std::wstring{0x00E9}},
        {"\xEF\xBF\xBF", std::wstring{0xFFFF}},
        {"\xF0\x9F\x98\x80", std::wstring{0xD83D, 0xDE00}},
        {"\xF0\x90\x80\x80", std::wstring{0xD800, 0xDC00}},
        {"\xF4\x8F\xBF\xBF", std::wstring{0xDBFF, 0xDFFF}},
    };
    for (const Case& c : cases) EXPECT_EQ(IConv::utf82wchar(c.in), c.out) << c.in;
}

TEST(CoreConvert, MalformedUnicodeIsABadAnswer) {
    const std::pair<std::wstring, const char*> utf16[] = {
        {std::wstring{0xDE00}, "trail surrogate alone"},
        {std::wstring{0xD83D}, "lead surrogate at the end"},
        {std::wstring{0xD83D, 0x0041}, "lead surrogate before a letter"},
        {std::wstring{0x0041, 0xD83D, 0xD83D}, "two lead surrogates"},
    };
    for (const auto& [w, what] : utf16) ExpectBadAnswer([&] { IConv::wchar2utf8(w); }, what);

    const std::pair<std::string, const char*> utf8[] = {
        {"\xF0\x9F\x98", "truncated four-byte sequence"},
        {"\xC3", "truncated two-byte sequence"},
        {"\xC0\x80", "overlong NUL"},
        {"\xE0\x80\xAF", "overlong slash"},
        {"\xED\xA0\x80", "encoded surrogate"},
        {"\xF4\x90\x80\x80", "above 10FFFF"},
        {"\x80", "continuation byte alone"},
        {"\xFF", "invalid lead byte"},
        {"A\xC3\x41", "bad continuation"},
    };
    for (const auto& [s, what] : utf8) {
        ExpectBadAnswer([&] { IConv::utf82wchar(s); }, what);
        ExpectBadAnswer([&] { IConvert::bytes_to_wstring(IConv::str2bytes(s), 3); }, what);
    }
}

TEST(CoreConvert, OnlyEncodingsTwoAndThreeAreKnown) {
    for (unsigned char e : {0, 1, 4, 0xFF}) {
        for (auto f : std::vector<std::function<void()>>{
                 [e] { IConvert::string_to_bytes("1", e); }, [e] { IConvert::wstring_to_bytes(L"1", e); },
                 [e] { IConvert::bytes_to_string({0x31}, e); }, [e] { IConvert::bytes_to_wstring({0x31}, e); }}) {
            auto r = RaisedBy(f);
            ASSERT_TRUE(r);
            EXPECT_EQ(r->code, 0xFACE);
            EXPECT_EQ(r->file, kInternal);
        }
    }
}

TEST(CoreConvert, LocaleFreeCases) {
    EXPECT_EQ(IConvert::wstring_to_bytes(L"0123456789", 3), IConv::str2bytes("0123456789"));
    EXPECT_EQ(IConvert::bytes_to_string({0x41, 0x42, 0x00, 0x43}, 2), "AB");
    EXPECT_EQ(IConvert::string_to_bytes(std::string("\xFF\x00\x01", 3), 2), (TBytes{0xFF, 0x00, 0x01}));
    EXPECT_EQ(IConvert::bytes_to_wstring({0xC3, 0xA9, 0x00, 0x41}, 3), std::wstring{0x00E9});
    EXPECT_EQ(IConvert::bytes_to_wstring({0xF0, 0x9F, 0x98, 0x80}, 3), (std::wstring{0xD83D, 0xDE00}));
    EXPECT_EQ(IConv::bytes2str({0x41, 0x00, 0x42}), std::string("A\0B", 3));
    EXPECT_EQ(IConv::str2bytes(std::string("A\0B", 3)), (TBytes{0x41, 0x00, 0x42}));
}

// ---------------------------------------------------------------- in a locale

const char kChildVar[] = "KEYSHELF_CONV_LOCALE";

bool ChildIs(const char* which) {
    const char* v = std::getenv(kChildVar);
    return v && std::strcmp(v, which) == 0;
}

// Runs this program again with only the given suite and environment; true when it passed.
bool RunChild(const std::string& suite, const std::vector<std::string>& env) {
    std::vector<std::string> args = {"/proc/self/exe", "--gtest_filter=" + suite + ".*"};
    std::vector<char*> argv, envp;
    for (auto& a : args) argv.push_back(a.data());
    argv.push_back(nullptr);
    std::vector<std::string> e = env;
    for (auto& s : e) envp.push_back(s.data());
    envp.push_back(nullptr);
    pid_t pid = fork();
    if (pid == 0) {
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    if (pid < 0 || waitpid(pid, &status, 0) != pid) return false;
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(CoreConvert, UnderAUtf8Locale) {
    EXPECT_TRUE(RunChild("CoreConvInUtf8", {"LC_ALL=C.UTF-8", std::string(kChildVar) + "=utf8"}));
}

TEST(CoreConvert, UnderASingleByteLocale) {
    char dir[] = "/tmp/keyshelf-locale-XXXXXX";
    if (!mkdtemp(dir)) GTEST_SKIP() << "no temporary folder for a locale";
    const std::string cmd = std::string("localedef -i en_US -f ISO-8859-1 ") + dir +
                            "/en_US.ISO-8859-1 >/dev/null 2>&1";
    const int rc = std::system(cmd.c_str());
    bool ok = false;
    if (rc == 0)
        ok = RunChild("CoreConvInLatin1",
                      {"LC_ALL=en_US.ISO-8859-1", std::string("LOCPATH=") + dir, std::string(kChildVar) + "=latin1"});
    std::filesystem::remove_all(dir);
    if (rc != 0) GTEST_SKIP() << "localedef could not make an ISO-8859-1 locale";
    EXPECT_TRUE(ok);
}

#define CHILD_ONLY(which) \
    if (!ChildIs(which)) GTEST_SKIP() << "runs inside the " which " child only"

// First in its suite: the very first conversions race each other to set the locale.
TEST(CoreConvInUtf8, FirstConversionsFromManyThreads) {
    CHILD_ONLY("utf8");
    std::vector<std::thread> threads;
    std::atomic<int> wrong{0};
    for (int i = 0; i < 8; ++i)
        threads.emplace_back([&] {
            for (int k = 0; k < 200; ++k) {
                if (IConv::char2wchar("0123") != L"0123") ++wrong;
                if (IConv::wchar2char(std::wstring{0x00E9}) != "\xC3\xA9") ++wrong;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
    EXPECT_TRUE(IConv::isInit);
}

TEST(CoreConvInUtf8, Conversions) {
    CHILD_ONLY("utf8");
    EXPECT_EQ(IConvert::wstring_to_bytes(L"1234", 2), IConv::str2bytes("1234"));
    EXPECT_EQ(IConvert::wstring_to_bytes(L"1234", 3), IConv::str2bytes("1234"));
    EXPECT_EQ(IConvert::wstring_to_bytes(std::wstring{0x00E9}, 2), (TBytes{0xC3, 0xA9}));
    EXPECT_EQ(IConvert::string_to_bytes("abc", 3), IConv::str2bytes("abc"));
    EXPECT_EQ(IConvert::bytes_to_string({0xC3, 0xA9, 0x00, 0x41}, 3), "\xC3\xA9");
    EXPECT_EQ(IConvert::bytes_to_wstring({0x41, 0x00, 0x42}, 2), L"A");
    // Bytes go one by one, so every byte of a multibyte sequence fails.
    ExpectBadAnswer([] { IConv::char2wchar("\xC3"); }, "C3");
    ExpectBadAnswer([] { IConv::char2wchar("\xC3\xA9"); }, "C3 A9");
    ExpectBadAnswer([] { IConvert::string_to_bytes("\xC3\xA9", 3); }, "C3 A9 to UTF-8");
    ExpectBadAnswer([] { IConv::wchar2char(std::wstring{0xD83D}); }, "a surrogate code unit");
}

TEST(CoreConvInUtf8, LocaleIsTakenFromTheEnvironmentOnce) {
    CHILD_ONLY("utf8");
    IConv::char2wchar("a");
    ASSERT_TRUE(IConv::isInit);
    EXPECT_STRNE(std::setlocale(LC_ALL, nullptr), "C");
    std::setlocale(LC_ALL, "C");
    IConv::wchar2char(L"a");
    IConv::char2wchar("a");
    EXPECT_STREQ(std::setlocale(LC_ALL, nullptr), "C");
}

TEST(CoreConvInLatin1, Conversions) {
    CHILD_ONLY("latin1");
    EXPECT_EQ(IConv::char2wchar("\xC3"), std::wstring{0x00C3});
    EXPECT_EQ(IConv::wchar2char(std::wstring{0x00E9}), "\xE9");
    EXPECT_EQ(IConvert::wstring_to_bytes(std::wstring{0x00E9}, 2), TBytes{0xE9});
    EXPECT_EQ(IConvert::wstring_to_bytes(std::wstring{0x00E9}, 3), (TBytes{0xC3, 0xA9}));
    EXPECT_EQ(IConvert::wstring_to_bytes(L"1234", 2), IConv::str2bytes("1234"));
    EXPECT_EQ(IConvert::string_to_bytes("\xE9", 3), (TBytes{0xC3, 0xA9}));
    EXPECT_EQ(IConvert::bytes_to_string({0xC3, 0xA9}, 3), "\xE9");
    EXPECT_EQ(IConvert::bytes_to_wstring({0xE9, 0x00, 0x41}, 2), std::wstring{0x00E9});
    ExpectBadAnswer([] { IConv::wchar2char(std::wstring{0x20AC}); }, "euro sign");
    ExpectBadAnswer([] { IConvert::bytes_to_string({0xE2, 0x82, 0xAC}, 3); }, "euro sign from UTF-8");
}

}  // namespace
