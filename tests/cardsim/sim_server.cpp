#include "sim_server.h"

#include "sim_gost.h"
#include "sim_gost2.h"
#include "sim_java.h"
#include "sim_tessel.h"

#include <arpa/inet.h>
#include <cerrno>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

namespace cardsim {

SimServer::SimServer(CardSim& card) : m_card(card) {
    if (pipe(m_wake) == 0) {
        fcntl(m_wake[0], F_SETFL, O_NONBLOCK);
        fcntl(m_wake[1], F_SETFL, O_NONBLOCK);
    }
}

SimServer::~SimServer() {
    if (m_listen >= 0) close(m_listen);
    if (m_wake[0] >= 0) close(m_wake[0]);
    if (m_wake[1] >= 0) close(m_wake[1]);
}

void SimServer::stop() {
    m_stop.store(true);
    // The byte stays in the pipe, so every waiting loop sees it.
    if (m_wake[1] >= 0) {
        ssize_t r = write(m_wake[1], "x", 1);
        (void)r;
    }
}

bool SimServer::handle(const Bytes& message, Bytes& reply) {
    reply.clear();
    if (message.empty()) return false;
    if (message.size() == 1) {
        switch (message[0]) {
        case 0x00:
            m_card.powerOff();
            return false;
        case 0x01:
            m_card.powerOn();
            return false;
        case 0x02:
            m_card.reset();
            return false;
        case 0x04:
            reply = m_card.atrBytes();
            return true;
        default:
            return false;  // an event this card does not know
        }
    }
    // Two bytes are never a command APDU (it has at least four): FE xx frames are
    // inspection requests of the test harness, answered without a status word and
    // never counted as card traffic.
    if (message.size() == 2 && message[0] == kInspect) {
        switch (message[1]) {
        case kInspectTree: {
            const SimJavaApplet* applet = m_card.find<SimJavaApplet>();
            const std::string text = applet ? applet->tree().dump() : m_card.dump();
            reply.assign(text.begin(), text.end());
            return true;
        }
        case kInspectCount: {
            const size_t n = m_card.commandCount();
            for (int shift = 24; shift >= 0; shift -= 8) reply.push_back(static_cast<unsigned char>(n >> shift));
            return true;
        }
        default:
            return true;  // an empty answer: nothing to tell
        }
    }
    reply = m_card.transmit(message);
    return true;
}

SimServer::Wait SimServer::waitReadable(int fd, int timeoutMs) {
    for (;;) {
        if (m_stop.load()) return kStop;
        pollfd p[3] = {{fd, POLLIN, 0}, {m_wake[0], POLLIN, 0}, {m_eofFd, POLLIN, 0}};
        const nfds_t n = m_eofFd >= 0 ? 3 : 2;
        int r = poll(p, n, timeoutMs);
        if (r < 0) {
            if (errno == EINTR) continue;
            return kError;
        }
        if (r == 0) return kError;  // timed out
        if (p[1].revents) return kStop;
        if (n == 3 && p[2].revents) {
            char buf[256];
            ssize_t got = read(m_eofFd, buf, sizeof buf);
            if (got <= 0) {
                stop();
                return kStop;
            }
            if (!p[0].revents) continue;
        }
        if (p[0].revents) return kReady;
    }
}

bool SimServer::readFull(int fd, unsigned char* p, size_t n) {
    while (n > 0) {
        if (waitReadable(fd) != kReady) return false;
        ssize_t got = recv(fd, p, n, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) return false;
        p += got;
        n -= static_cast<size_t>(got);
    }
    return true;
}

bool SimServer::writeFrame(int fd, const Bytes& b) {
    if (b.size() > 0xFFFF) return false;
    Bytes frame;
    PutBe16(frame, static_cast<uint16_t>(b.size()));
    frame.insert(frame.end(), b.begin(), b.end());
    size_t off = 0;
    while (off < frame.size()) {
        ssize_t put = ::send(fd, frame.data() + off, frame.size() - off, MSG_NOSIGNAL);
        if (put < 0 && errno == EINTR) continue;
        if (put <= 0) return false;
        off += static_cast<size_t>(put);
    }
    return true;
}

void SimServer::serveStream(int fd) {
    for (;;) {
        unsigned char head[2];
        if (!readFull(fd, head, 2)) return;
        Bytes msg((static_cast<size_t>(head[0]) << 8) | head[1]);
        if (!msg.empty() && !readFull(fd, msg.data(), msg.size())) return;
        Bytes reply;
        if (handle(msg, reply) && !writeFrame(fd, reply)) return;
    }
}

int SimServer::listenTcp(uint16_t port) {
    int s = socket(AF_INET, SOCK_STREAM, 0);
    if (s < 0) return -1;
    int one = 1;
    setsockopt(s, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    sockaddr_in addr;
    std::memset(&addr, 0, sizeof addr);
    addr.sin_family = AF_INET;
    addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    addr.sin_port = htons(port);
    socklen_t len = sizeof addr;
    if (bind(s, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || listen(s, 4) != 0 ||
        getsockname(s, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
        close(s);
        return -1;
    }
    m_listen = s;
    return ntohs(addr.sin_port);
}

void SimServer::serveTcp() {
    while (m_listen >= 0 && waitReadable(m_listen) == kReady) {
        int c = accept(m_listen, nullptr, nullptr);
        if (c < 0) continue;
        int one = 1;
        setsockopt(c, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        serveStream(c);
        close(c);
        // A new connection is a new reader session: the card starts unselected.
        m_card.reset();
    }
}

bool SimServer::serveVpcd(const std::string& host, uint16_t port, int retryMs) {
    addrinfo hints;
    std::memset(&hints, 0, sizeof hints);
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* res = nullptr;
    if (getaddrinfo(host.c_str(), std::to_string(port).c_str(), &hints, &res) != 0 || !res) return false;
    while (!m_stop.load()) {
        int s = -1;
        for (addrinfo* ai = res; ai && s < 0; ai = ai->ai_next) {
            s = socket(ai->ai_family, ai->ai_socktype, ai->ai_protocol);
            if (s >= 0 && connect(s, ai->ai_addr, ai->ai_addrlen) != 0) {
                close(s);
                s = -1;
            }
        }
        if (s < 0) {
            // The driver is not up yet (or went away): wait, but wake for stop.
            pollfd p = {m_wake[0], POLLIN, 0};
            poll(&p, 1, retryMs);
            continue;
        }
        int one = 1;
        setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        serveStream(s);
        close(s);
        m_card.reset();
    }
    freeaddrinfo(res);
    return true;
}

}  // namespace cardsim
