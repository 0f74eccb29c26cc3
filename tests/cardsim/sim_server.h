// The simulator on a socket, in the framing of the vsmartcard vpcd reader
// driver: every message is a two-byte big-endian length and that many bytes.
// A one-byte message is a reader event (00 power off, 01 power on, 02 reset,
// 04 get ATR, answered with the ATR); any other message is a command APDU,
// answered with the response APDU. Power events are not answered.
#ifndef CARDSIM_SIM_SERVER_H
#define CARDSIM_SIM_SERVER_H

#include <atomic>
#include <cstdint>
#include <string>

#include "cardsim.h"

namespace cardsim {

class SimServer {
public:
    static constexpr uint16_t kVpcdPort = 35963;
    // Inspection frames (two bytes, FE then the request): FE 01 answers the file
    // tree of the card's Java-protocol applet as text (on other cards what their
    // applet keeps: the Tessel files, the Gost objects, the Gost2 tree, the DataStore record store,
    // the Wren file tree), FE 02 the number of
    // command APDUs the card has seen, four bytes big-endian.
    static constexpr unsigned char kInspect = 0xFE;
    static constexpr unsigned char kInspectTree = 0x01;
    static constexpr unsigned char kInspectCount = 0x02;

    explicit SimServer(CardSim& card);
    ~SimServer();
    SimServer(const SimServer&) = delete;
    SimServer& operator=(const SimServer&) = delete;

    // One message; true when it is answered, the answer in `reply`.
    bool handle(const Bytes& message, Bytes& reply);

    // Binds 127.0.0.1:port (0 picks a free port) and listens; the bound port, or -1.
    int listenTcp(uint16_t port);
    // Serves one connection at a time until stop().
    void serveTcp();
    // Connects to vpcd, retrying until it succeeds, serves it, and connects
    // again when the driver goes away, until stop(). False when the host does
    // not resolve.
    bool serveVpcd(const std::string& host, uint16_t port, int retryMs = 500);
    // Serves one connected stream until it closes, fails or stop().
    void serveStream(int fd);

    // Ends every loop. Safe from another thread and from a signal handler.
    void stop();
    bool stopped() const { return m_stop.load(); }
    // End of file on this descriptor (stdin, say) stops the server too.
    void stopOnEof(int fd) { m_eofFd = fd; }

private:
    enum Wait { kReady, kStop, kError };
    Wait waitReadable(int fd, int timeoutMs = -1);
    bool readFull(int fd, unsigned char* p, size_t n);
    bool writeFrame(int fd, const Bytes& b);

    CardSim& m_card;
    int m_listen = -1;
    int m_wake[2] = {-1, -1};
    int m_eofFd = -1;
    std::atomic<bool> m_stop{false};
};

}  // namespace cardsim

#endif
