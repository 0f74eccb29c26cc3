// The simulator over a socket in the vpcd framing, served from a thread of
// this process.
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <thread>

#include "cardsim_test_util.h"
#include "sim_server.h"
#include "sim_tokens.h"

using namespace cardsim;
using cardsim_test::H;

namespace {

// A client socket that closes itself.
class Client {
public:
    explicit Client(int port) : m_fd(socket(AF_INET, SOCK_STREAM, 0)) {
        sockaddr_in a{};
        a.sin_family = AF_INET;
        a.sin_port = htons(static_cast<uint16_t>(port));
        a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
        m_ok = m_fd >= 0 && connect(m_fd, reinterpret_cast<sockaddr*>(&a), sizeof a) == 0;
        timeval tv{5, 0};  // a hung server fails the test instead of blocking it
        setsockopt(m_fd, SOL_SOCKET, SO_RCVTIMEO, &tv, sizeof tv);
    }
    ~Client() {
        if (m_fd >= 0) close(m_fd);
    }
    bool ok() const { return m_ok; }
    void put(const Bytes& msg) {
        Bytes f{static_cast<unsigned char>(msg.size() >> 8), static_cast<unsigned char>(msg.size())};
        f.insert(f.end(), msg.begin(), msg.end());
        ASSERT_EQ(::send(m_fd, f.data(), f.size(), MSG_NOSIGNAL), static_cast<ssize_t>(f.size()));
    }
    Bytes get() {
        unsigned char h[2];
        if (!readAll(h, 2)) return H("DE AD");  // no frame: cannot be a real answer
        Bytes b((static_cast<size_t>(h[0]) << 8) | h[1]);
        if (!b.empty() && !readAll(b.data(), b.size())) return H("DE AD");
        return b;
    }
    Bytes exchange(const std::string& hex) {
        put(H(hex));
        return get();
    }

private:
    bool readAll(unsigned char* p, size_t n) {
        while (n) {
            ssize_t r = recv(m_fd, p, n, 0);
            if (r <= 0) return false;
            p += r;
            n -= static_cast<size_t>(r);
        }
        return true;
    }
    int m_fd;
    bool m_ok = false;
};

TEST(CardSimServer, TcpRoundTripInVpcdFraming) {
    auto card = MakeJavaToken();
    SimServer server(*card);
    const int port = server.listenTcp(0);
    ASSERT_GT(port, 0);
    std::thread t([&] { server.serveTcp(); });
    {
        Client c(port);
        ASSERT_TRUE(c.ok());
        c.put(H("01"));  // power on: not answered
        EXPECT_EQ(c.exchange("04"), kAtrJava10);
        EXPECT_EQ(c.exchange("00 A4 04 00 07 A0 00 00 03 12 02 02"), H("90 00"));
        EXPECT_EQ(c.exchange("00 A4 08 04 04 66 66 50 00 00"), H("01 01 01 03 02 00 00 04 05 00 00 00 00 00 90 00"));
        EXPECT_EQ(c.exchange("80 16 01 00 12 01 01 01 02 02 E0 0E 03 02 00 00 04 05 00 00 00 00 00"), H("90 00"));
        // A reset drops the selection; the card memory keeps the folder.
        c.put(H("02"));
        EXPECT_EQ(c.exchange("00 A4 08 04 06 66 66 50 00 E0 0E 00"), H("6D 00"));
        c.put(H("00"));
        c.put(H("01"));
        EXPECT_EQ(c.exchange("00 A4 04 00 07 A0 00 00 03 12 02 02"), H("90 00"));
        EXPECT_EQ(StatusOf(c.exchange("00 A4 08 04 06 66 66 50 00 E0 0E 00")), 0x9000);
    }
    // One connection at a time: the next client is served once the first is gone.
    {
        Client c(port);
        ASSERT_TRUE(c.ok());
        EXPECT_EQ(c.exchange("00 CA 01 11 00"), H("6D 00"));  // a new session starts unselected
    }
    server.stop();
    t.join();
    EXPECT_NE(card->find<SimJavaApplet>()->tree().find({0x3F00, 0x6666, 0x5000, 0xE00E}), nullptr);
}

TEST(CardSimServer, EndOfFileOnTheWatchedDescriptorStopsTheServer) {
    auto card = MakeHeronToken();
    SimServer server(*card);
    int lifetime[2];
    ASSERT_EQ(pipe(lifetime), 0);
    server.stopOnEof(lifetime[0]);
    ASSERT_GT(server.listenTcp(0), 0);
    std::thread t([&] { server.serveTcp(); });
    close(lifetime[1]);
    t.join();
    EXPECT_TRUE(server.stopped());
    close(lifetime[0]);
}

TEST(CardSimServer, HandleAnswersApdusAndAtrOnly) {
    auto card = MakeHeronToken();
    SimServer server(*card);
    Bytes reply;
    EXPECT_TRUE(server.handle(H("04"), reply));
    EXPECT_EQ(reply, kAtrHeron);
    for (const char* event : {"00", "01", "02", "07"}) {
        SCOPED_TRACE(event);
        EXPECT_FALSE(server.handle(H(event), reply));
    }
    EXPECT_TRUE(server.handle(H("00 A4 04 00 08 A0 00 00 04 48 00 04 01"), reply));
    EXPECT_EQ(reply, H("90 00"));
}

}  // namespace

namespace {

TEST(CardSimServer, InspectionShowsTheGostObjectsAndTheGost2Tree) {
    auto gost = MakeGostToken();
    SimServer gostServer(*gost);
    Bytes reply;
    gostServer.handle(H("00 A4 04 00 0A A0 00 00 04 48 01 01 01 06 02"), reply);
    gostServer.handle(H("80 12 20 00 01 04 00"), reply);
    gostServer.handle(H("80 13 30 00 0A 00 01 61 01 00 00 00 02 00 20 00"), reply);
    ASSERT_TRUE(gostServer.handle(H("FE 01"), reply));
    EXPECT_EQ(std::string(reply.begin(), reply.end()), "0001 kind 04\n  00000161 (2) 00 20\n");

    SimTokenOptions o;
    o.freeMemory = 1000;
    auto gost2 = MakeGost2Token(o);
    SimServer gost2Server(*gost2);
    gost2Server.handle(H("00 A4 04 00 08 A0 00 00 04 48 00 01 01"), reply);
    gost2Server.handle(H("80 4C 40 00 04 E0 0E 0D B7"), reply);
    gost2Server.handle(H("80 4C 80 02 02 E0 0E 00"), reply);
    gost2Server.handle(H("80 4C 10 00 02 00 40"), reply);
    gost2Server.handle(H("80 4C 30 01 04 00 01 0D BF"), reply);
    ASSERT_TRUE(gost2Server.handle(H("FE 01"), reply));
    EXPECT_EQ(std::string(reply.begin(), reply.end()), "3F00/\n  E00E/\n    0001 (64) access BF\n");
    // Free memory as asked, less what the folder and the file took.
    EXPECT_EQ(gost2->find<SimGost2Applet>()->freeMemory(), 1000u - 32 - 32 - 64);
}

}  // namespace
