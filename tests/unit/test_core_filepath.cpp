// Whole-path helpers over an in-memory file system, Base64 and byte reversal.
#include <gtest/gtest.h>

#include "fake_fs.h"
#include "libapdu.internal.h"
#include "raised.h"

using namespace libapdu;

namespace {

using Calls = std::vector<std::string>;

struct Helpers : ::testing::Test {
    FakeFS fs;
    FakePin pin{{0x3F00, 0x0002}};
    CAdapter a() {
        CAdapter x;
        x.fs = &fs;
        x.pin = &pin;
        return x;
    }
};

const CFileInfo kDir(2, 0, 0, 0);

TEST_F(Helpers, CreatePathProbesDownThenBuildsUp) {
    struct Case {
        const char* what;
        std::vector<path> existing;
        Calls calls;
    };
    const path target = {0xE00E, 0x0B00, 0x0001};
    const Case cases[] = {
        {"whole path exists", {{0xE00E}, {0xE00E, 0x0B00}, {0xE00E, 0x0B00, 0x0001}}, {"select E00E/0B00/0001"}},
        {"only the first element exists",
         {{0xE00E}},
         {"select E00E/0B00/0001", "select E00E/0B00", "select E00E", "select E00E", "create 0B00 type 2",
          "select E00E/0B00", "create 0001 type 2"}},
        {"nothing exists below the root",
         {},
         {"select E00E/0B00/0001", "select E00E/0B00", "select E00E", "select ", "select ", "create E00E type 2",
          "select E00E", "create 0B00 type 2", "select E00E/0B00", "create 0001 type 2"}},
    };
    for (const Case& c : cases) {
        fs = FakeFS();
        for (const path& p : c.existing) fs.addDir(p);
        FileCreatePath(a(), target, kDir);
        EXPECT_EQ(fs.calls, c.calls) << c.what;
        EXPECT_TRUE(fs.exists(target)) << c.what;
    }
}

TEST_F(Helpers, CreatePathGivesUpWithTheLastProbesError) {
    fs.rootSelectable = false;
    auto r = RaisedBy([&] { FileCreatePath(a(), {0xE00E, 0x0B00}, kDir); });
    ASSERT_TRUE(r);
    EXPECT_EQ(r->code, 0x6A82);
    EXPECT_EQ(fs.calls, (Calls{"select E00E/0B00", "select E00E", "select "}));
}

TEST_F(Helpers, CreatePathKeepsWhatWasMadeWhenACreateFails) {
    fs.addDir({0xE00E});
    fs.failCreate = 0x6A84;
    EXPECT_EQ(CodeOf([&] { FileCreatePath(a(), {0xE00E, 0x0B00}, kDir); }), 0x6A84);
    EXPECT_EQ(fs.calls.back(), "create 0B00 type 2");
}

TEST_F(Helpers, CreatePathLetsOtherExceptionsThrough) {
    struct Throwing : FakeFS {
        void select(path) override { throw std::runtime_error("transport gone"); }
    } t;
    CAdapter x;
    x.fs = &t;
    EXPECT_THROW(FileCreatePath(x, {0xE00E}, kDir), std::runtime_error);
}

TEST_F(Helpers, CreateAndWriteMakesTheFileInItsParent) {
    fs.addDir({0xE00E});
    const TBytes data = {1, 2, 3};
    FileCreateAndWrite(a(), {0xE00E, 0x0010}, CFileInfo(1, 3, 0, 2), data);
    EXPECT_EQ(fs.calls, (Calls{"select E00E", "create 0010 type 1", "select E00E/0010", "write 3 at 0"}));
    EXPECT_EQ((fs.nodes[{0xE00E, 0x0010}].data), data);
}

TEST_F(Helpers, EmptyPathsAreRefusedBeforeAnyCall) {
    EXPECT_EQ(CodeOf([&] { FileCreateAndWrite(a(), {}, CFileInfo(1, 3, 0, 2), {1}); }), 0x6B00);
    EXPECT_EQ(CodeOf([] { PinExtractAccess({}); }), 0x6B00);
    FakePin empty{{}};
    CAdapter x = a();
    x.pin = &empty;
    EXPECT_EQ(CodeOf([&] { FileMakeDirInfo(x); }), 0x6B00);
    EXPECT_TRUE(fs.calls.empty());
}

TEST_F(Helpers, DeletePathRemovesFilesThenSubdirectoriesThenItself) {
    const path d = {0xE00E, 0x0B00};
    fs.addDir({0xE00E});
    fs.addDir(d);
    fs.addFile({0xE00E, 0x0B00, 0x000A});
    fs.addFile({0xE00E, 0x0B00, 0x000B});
    fs.addDir({0xE00E, 0x0B00, 0x0005});
    fs.addFile({0xE00E, 0x0B00, 0x0005, 0x000C});
    FileDeletePath(a(), d);
    const Calls want = {"select E00E/0B00",
                        "info",
                        "list 1",
                        "list 2",
                        "select E00E/0B00/000A",
                        "remove E00E/0B00/000A",
                        "select E00E/0B00/000B",
                        "remove E00E/0B00/000B",
                        "select E00E/0B00/0005",
                        "info",
                        "list 1",
                        "list 2",
                        "select E00E/0B00/0005/000C",
                        "remove E00E/0B00/0005/000C",
                        "select E00E/0B00/0005",
                        "remove E00E/0B00/0005",
                        "select E00E/0B00",
                        "remove E00E/0B00"};
    EXPECT_EQ(fs.calls, want);
    EXPECT_EQ(fs.nodes.size(), 1u);
}

TEST_F(Helpers, DeletePathOnAFileRemovesJustIt) {
    fs.addDir({0xE00E});
    fs.addFile({0xE00E, 0x0001}, {1});
    fs.addFile({0xE00E, 0x0002}, {1});
    FileDeletePath(a(), {0xE00E, 0x0001});
    EXPECT_EQ(fs.calls, (Calls{"select E00E/0001", "info", "remove E00E/0001"}));
    EXPECT_TRUE(fs.exists({0xE00E, 0x0002}));
}

TEST_F(Helpers, DeletePathStopsOnACardThatNestsWithoutEnd) {
    // Every directory claims a subdirectory 0001 that is again a directory.
    struct Endless : FakeFS {
        void select(path p) override { calls.push_back("select"); depth = p.size(); }
        CFileInfo info() override { return CFileInfo(2, 0, 0, 0); }
        std::vector<unsigned short> list(unsigned char kind) override {
            return kind == 2 ? std::vector<unsigned short>{1} : std::vector<unsigned short>{};
        }
        void remove() override { ADD_FAILURE() << "removed at depth " << depth; }
        size_t depth = 0;
    } e;
    CAdapter x;
    x.fs = &e;
    EXPECT_EQ(CodeOf([&] { FileDeletePath(x, {0xE00E}); }), 0x6281);
    EXPECT_LE(e.depth, 100u);
}

TEST_F(Helpers, ReadTakesTheSizeFromTheDescription) {
    for (const TBytes& content : {TBytes{}, TBytes{0xAB}, TBytes(300, 0x11)}) {
        fs = FakeFS();
        fs.addFile({0x0001}, content);
        fs.select({0x0001});
        fs.calls.clear();
        EXPECT_EQ(FileRead(a()), content);
        EXPECT_EQ(fs.calls, (Calls{"info", "read " + std::to_string(content.size()) + " at 0"}));
    }
}

TEST_F(Helpers, UnfilledAdapterRefusesWithTheFacetDefault) {
    const CAdapter fresh;
    auto r = RaisedBy([&] { FileRead(fresh); });
    ASSERT_TRUE(r);
    EXPECT_EQ(r->code, 0xFACE);
    EXPECT_EQ(r->file, "Externals/Internal/LibAPDU/Source/include/libapdu");
    EXPECT_EQ(CodeOf([&] { FileMakeDirInfo(fresh); }), 0xFACE);
    EXPECT_EQ(CodeOf([&] { FileCreatePath(fresh, {1}, kDir); }), 0xFACE);
    EXPECT_EQ(fresh.fs, &IAppFS::stub);
    EXPECT_EQ(fresh.pin, &IAppPin::stub);
    EXPECT_EQ(fresh.info, &IAppInfo::stub);
    EXPECT_EQ(fresh.crypto, &IAppCrypto::stub);
    EXPECT_EQ(fresh.label, &IAppLabel::stub);
}

TEST_F(Helpers, DescriptionsTakeTheUserPinsReference) {
    FakePin wide{{0x3F00, 0x1281}};  // only the low 8 bits are an access byte
    CAdapter x = a();
    x.pin = &wide;
    EXPECT_EQ(PinExtractAccess({0x3F00, 0x1281}), 0x1281);
    EXPECT_EQ(FileMakeDirInfo(x), CFileInfo(2, 0, 0, 0x81));
    EXPECT_EQ(FileMakeFileInfo(x, 100, false), CFileInfo(1, 100, 0, 0x81));
    EXPECT_EQ(FileMakeFileInfo(x, 0xFFFF, true), CFileInfo(1, 0xFFFF, 0x81, 0x81));
    EXPECT_EQ(FileMakeDirInfo(a()), CFileInfo(2, 0, 0, 0x02));
}

TEST(CoreBase64, EncodeAndDecode) {
    struct Case {
        TBytes bytes;
        std::string text;
    };
    const Case cases[] = {
        {{}, ""},
        {{'f'}, "Zg=="},
        {{'f', 'o'}, "Zm8="},
        {{'f', 'o', 'o'}, "Zm9v"},
        {{'f', 'o', 'o', 'b', 'a', 'r'}, "Zm9vYmFy"},
        {{0xFB, 0xFF, 0xBF}, "+/+/"},
        {{0x00, 0x00, 0x00, 0xFF}, "AAAA/w=="},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(base64_encode(c.bytes), c.text);
        EXPECT_EQ(base64_decode(c.text), c.bytes) << c.text;
    }
}

TEST(CoreBase64, DecodeStopsAtTheFirstCharacterOutsideItsAlphabet) {
    struct Case {
        std::string text;
        TBytes bytes;
    };
    const Case cases[] = {
        {"Zm9v", {'f', 'o', 'o'}},
        {"Zm8=", {'f', 'o'}},
        {"Zg", {'f'}},
        {"Z", {}},
        {"Zg Zg", {'f'}},         // a blank ends the text
        {"Zm9v\nYmFy", {'f', 'o', 'o'}},
        {"Zm9v=YmFy", {'f', 'o', 'o'}},
        {"Zm-v", {'f'}},          // '-' and '_' belong to the URL alphabet, not this one
        {"Zm9_", {'f', 'o'}},
        {std::string("Zm9v\xC3\xA9YmFy", 10), {'f', 'o', 'o'}},  // letters of other scripts end it too
        {std::string("Zm9v\0YmFy", 9), {'f', 'o', 'o'}},
    };
    for (const Case& c : cases) EXPECT_EQ(base64_decode(c.text), c.bytes) << c.text;
}

TEST(CoreBase64, EveryByteRoundTrips) {
    TBytes all;
    for (int i = 0; i < 256; ++i) all.push_back(static_cast<unsigned char>(i));
    for (size_t n = 0; n <= all.size(); n += 37) {
        const TBytes part(all.begin(), all.begin() + n);
        const std::string text = base64_encode(part);
        EXPECT_EQ(text.size(), (n + 2) / 3 * 4);
        EXPECT_EQ(base64_decode(text), part);
    }
}

TEST(CoreReverseBuf, ReversesInPlace) {
    const std::pair<TBytes, TBytes> cases[] = {
        {{}, {}}, {{1}, {1}}, {{1, 2}, {2, 1}}, {{1, 2, 3}, {3, 2, 1}}, {{1, 2, 3, 4}, {4, 3, 2, 1}},
    };
    for (auto [in, want] : cases) {
        reverseBuf(in);
        EXPECT_EQ(in, want);
    }
}

}  // namespace
