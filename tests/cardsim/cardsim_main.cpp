// cardsim_server: one simulated token on a socket, for tests that need a card
// outside the test process (a javax.smartcardio Card of the Java tests' own
// over --tcp, or pcscd through the vpcd reader driver over --vpcd).
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "sim_server.h"
#include "sim_tokens.h"

using namespace cardsim;

namespace {

const char kHelp[] =
    "usage: cardsim_server --card KIND (--tcp PORT | --vpcd HOST[:PORT]) [options]\n"
    "\n"
    "  --card java|heron      java: the Java and JavaManager applets; heron: the Heron applet\n"
    "  --card kite16|kite32|kite42|kite42b   a Kite token of that model (--fips: in FIPS mode)\n"
    "  --card gost|gost2      the Gost applet (object store) or the Gost2 applet (file tree)\n"
    "  --card datastore|wren  datastore: the DataStore record store; wren: the Wren applet,\n"
    "                         known by its ATR and answering without SELECT\n"
    "  --card tessel          the Tessel applet\n"
    "  --tcp PORT             listen on 127.0.0.1:PORT (0 picks a free port) and print\n"
    "                         \"PORT <n>\" once listening; one connection at a time\n"
    "  --vpcd HOST[:PORT]     connect to the vpcd reader driver (port 35963 by default),\n"
    "                         retrying until it answers, and again whenever it goes away\n"
    "  --manager-version N    java: the JavaManager version byte (CPLC byte 12), 0..255\n"
    "  --chip-id HEX12        java: the chip identification, CPLC answer bytes 3..8\n"
    "  --atr HEX              answer-to-reset instead of the kind's own\n"
    "  --serial HEX           serial number of the applet (Gost, Gost2, DataStore: 8 bytes, Wren: 4)\n"
    "                         (Kite: the whole GET DATA 0181 object, the number in bytes 10..15)\n"
    "  --fips                 the token is in FIPS mode (file 000A; Kite: folder 3F00/6666/5000)\n"
    "  --pin TEXT             the user PIN, its bytes as given (\"1234\" by default;\n"
    "                         gost \"123456\", gost2 \"12345678\")\n"
    "  --pin-hex HEX          the user PIN as bytes, e.g. the UTF-8 form of a text\n"
    "  --pin-tries N          wrong logins the user PIN takes before it blocks, 1..15 (10)\n"
    "  --free-memory N        gost, gost2: bytes of card memory left for files\n"
    "  --gost2-version N      gost2: the applet version, 0..255 (7; 6 or lower answers the\n"
    "                         32-byte information record)\n"
    "  --status-record 30|34  datastore: the status record's length (34: 32-bit free memory)\n"
    "  --platform [46|58]     datastore: add the platform applet, its memory answer of 46\n"
    "                         (default) or 58 bytes\n"
    "  --keep-pin-on-platform datastore: a verified PIN survives the platform applet's selection\n"
    "  --handles POLICY       datastore: sequential (default), lowest (the lowest free one),\n"
    "                         from:HHHH (sequential from HHHH), list:HHHH,HHHH,... (in order,\n"
    "                         then the lowest free one)\n"
    "  --capacity N           datastore: bytes the records may hold in all (16384)\n"
    "  --page-size N          datastore: records per enumeration answer, 1..36 (36)\n"
    "  --ignore-enum-start    datastore: a faulty card answering every enumeration from its start\n"
    "  --no-read-protection   datastore: protected records are readable without the PIN\n"
    "  --login-type HEX       tessel: the user PIN's reference and login type, one byte (24)\n"
    "  --stdin-lifetime       exit when standard input is closed\n"
    "  --help                 this text\n"
    "\n"
    "Both sockets carry vpcd frames: a two-byte big-endian length, then the bytes.\n"
    "One-byte frames are reader events: 00 power off, 01 power on, 02 reset,\n"
    "04 get ATR. Two-byte frames FE 01 and FE 02 ask for the file tree (as text)\n"
    "and the count of command APDUs seen (four bytes, big-endian); they are no\n"
    "card traffic. Anything else is a command APDU, answered with the response APDU.\n"
    "SIGTERM and SIGINT end the server.\n";

SimServer* g_server = nullptr;

extern "C" void OnSignal(int) {
    if (g_server) g_server->stop();
}

[[noreturn]] void Usage(const char* why) {
    std::fprintf(stderr, "cardsim_server: %s\n\n%s", why, kHelp);
    std::exit(2);
}

bool ParseHandle(const std::string& s, uint16_t& out) {
    Bytes b;
    if (s.size() != 4 || !FromHex(s, b) || b.size() != 2) return false;
    out = static_cast<uint16_t>((b[0] << 8) | b[1]);
    return true;
}

bool ParseHandles(const std::string& v, SimDataStoreOptions& d) {
    if (v == "sequential") {
        d.handles = SimDataStoreApplet::Handles::kSequential;
    } else if (v == "lowest") {
        d.handles = SimDataStoreApplet::Handles::kLowestFree;
    } else if (v.compare(0, 5, "from:") == 0) {
        d.handles = SimDataStoreApplet::Handles::kSequential;
        return ParseHandle(v.substr(5), d.handleStart);
    } else if (v.compare(0, 5, "list:") == 0) {
        d.handles = SimDataStoreApplet::Handles::kList;
        std::string rest = v.substr(5);
        while (!rest.empty()) {
            const size_t comma = rest.find(',');
            uint16_t h = 0;
            if (!ParseHandle(rest.substr(0, comma), h)) return false;
            d.handleList.push_back(h);
            rest = comma == std::string::npos ? std::string() : rest.substr(comma + 1);
        }
        return !d.handleList.empty();
    } else {
        return false;
    }
    return true;
}

bool ParseNumber(const std::string& s, unsigned long max, unsigned long& out) {
    if (s.empty() || s.find_first_not_of("0123456789") != std::string::npos) return false;
    out = std::strtoul(s.c_str(), nullptr, 10);
    return out <= max;
}

}  // namespace

int main(int argc, char** argv) {
    std::string card, vpcdHost;
    long tcpPort = -1;
    unsigned long vpcdPort = SimServer::kVpcdPort;
    bool stdinLifetime = false;
    SimTokenOptions opt;
    SimDataStoreOptions ds;
    bool dsOption = false;

    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        auto value = [&]() -> std::string {
            if (i + 1 >= argc) Usage(("missing value after " + a).c_str());
            return argv[++i];
        };
        unsigned long n = 0;
        if (a == "--help" || a == "-h") {
            std::fputs(kHelp, stdout);
            return 0;
        } else if (a == "--card") {
            card = value();
        } else if (a == "--tcp") {
            if (!ParseNumber(value(), 65535, n)) Usage("--tcp needs a port number");
            tcpPort = static_cast<long>(n);
        } else if (a == "--vpcd") {
            std::string v = value();
            const size_t colon = v.rfind(':');
            vpcdHost = v.substr(0, colon);
            if (colon != std::string::npos && !ParseNumber(v.substr(colon + 1), 65535, vpcdPort))
                Usage("--vpcd needs HOST or HOST:PORT");
            if (vpcdHost.empty()) Usage("--vpcd needs a host");
        } else if (a == "--manager-version") {
            if (!ParseNumber(value(), 255, n)) Usage("--manager-version needs a number 0..255");
            opt.managerVersion = static_cast<int>(n);
        } else if (a == "--chip-id") {
            if (!FromHex(value(), opt.chipId) || opt.chipId.size() != 6) Usage("--chip-id needs 12 hex digits");
        } else if (a == "--atr") {
            if (!FromHex(value(), opt.atr) || opt.atr.empty() || opt.atr.size() > 33) Usage("--atr needs 1..33 hex bytes");
        } else if (a == "--serial") {
            if (!FromHex(value(), opt.serial) || opt.serial.empty()) Usage("--serial needs hex bytes");
        } else if (a == "--pin") {
            const std::string v = value();
            if (v.empty()) Usage("--pin needs a PIN");
            opt.userPin.assign(v.begin(), v.end());
        } else if (a == "--pin-hex") {
            if (!FromHex(value(), opt.userPin) || opt.userPin.empty()) Usage("--pin-hex needs hex bytes");
        } else if (a == "--pin-tries") {
            if (!ParseNumber(value(), 15, n) || n == 0) Usage("--pin-tries needs a number 1..15");
            opt.pinTries = static_cast<int>(n);
        } else if (a == "--free-memory") {
            if (!ParseNumber(value(), 0xFFFFFFFFul, n)) Usage("--free-memory needs a number of bytes");
            opt.freeMemory = static_cast<long>(n);
        } else if (a == "--gost2-version") {
            if (!ParseNumber(value(), 255, n)) Usage("--gost2-version needs a number 0..255");
            opt.gost2Version = static_cast<int>(n);
        } else if (a == "--login-type") {
            Bytes b;
            if (!FromHex(value(), b) || b.size() != 1 || b[0] == 0) Usage("--login-type needs one byte in hex, not 00");
            opt.loginType = b[0];
        } else if (a == "--fips") {
            opt.fips = true;
        } else if (a == "--status-record") {
            if (!ParseNumber(value(), 34, n) || (n != 30 && n != 34)) Usage("--status-record needs 30 or 34");
            ds.statusRecord = n;
            dsOption = true;
        } else if (a == "--platform") {
            ds.platform = dsOption = true;
            if (i + 1 < argc && (std::string(argv[i + 1]) == "46" || std::string(argv[i + 1]) == "58"))
                ds.platformAnswer = std::strtoul(argv[++i], nullptr, 10);
        } else if (a == "--keep-pin-on-platform") {
            ds.keepPinOnPlatform = dsOption = true;
        } else if (a == "--handles") {
            if (!ParseHandles(value(), ds)) Usage("--handles needs sequential, lowest, from:HHHH or list:HHHH,...");
            dsOption = true;
        } else if (a == "--capacity") {
            if (!ParseNumber(value(), 0x7FFFFFFF, n)) Usage("--capacity needs a number of bytes");
            ds.capacity = n;
            dsOption = true;
        } else if (a == "--page-size") {
            if (!ParseNumber(value(), 36, n) || n == 0) Usage("--page-size needs a number 1..36");
            ds.pageSize = n;
            dsOption = true;
        } else if (a == "--ignore-enum-start") {
            ds.ignoreEnumerationStart = dsOption = true;
        } else if (a == "--no-read-protection") {
            ds.readProtection = false;
            dsOption = true;
        } else if (a == "--stdin-lifetime") {
            stdinLifetime = true;
        } else {
            Usage(("unknown option " + a).c_str());
        }
    }
    const bool gost = card == "gost" || card == "gost2";
    if ((tcpPort >= 0) == !vpcdHost.empty()) Usage("give one of --tcp and --vpcd");

    if (card != "java" && (opt.managerVersion >= 0 || !opt.chipId.empty()))
        Usage("--manager-version and --chip-id need --card java");
    if (card != "datastore" && dsOption) Usage("the record-store options need --card datastore");
    if (!gost && opt.freeMemory >= 0) Usage("--free-memory needs --card gost or gost2");
    if (card != "gost2" && opt.gost2Version >= 0) Usage("--gost2-version needs --card gost2");
    if (card != "tessel" && opt.loginType >= 0) Usage("--login-type needs --card tessel");
    if ((gost || card == "tessel") && opt.fips) Usage("--fips needs a Java, Heron or Kite card");

    std::unique_ptr<CardSim> sim = card == "java"        ? MakeJavaToken(opt)
                                   : card == "heron"     ? MakeHeronToken(opt)
                                   : card == "gost"      ? MakeGostToken(opt)
                                   : card == "gost2"     ? MakeGost2Token(opt)
                                   : card == "datastore" ? MakeDataStoreToken(opt, ds)
                                   : card == "wren"      ? MakeWrenToken(opt)
                                   : card == "tessel"    ? MakeTesselToken(opt)
                                                         : MakeKiteToken(card, opt);
    if (!sim) Usage("--card must be java, heron, kite16, kite32, kite42, kite42b, gost, gost2, datastore, wren or tessel");
    SimServer server(*sim);
    g_server = &server;
    struct sigaction sa;
    std::memset(&sa, 0, sizeof sa);
    sa.sa_handler = OnSignal;
    sigaction(SIGTERM, &sa, nullptr);
    sigaction(SIGINT, &sa, nullptr);
    std::signal(SIGPIPE, SIG_IGN);
    if (stdinLifetime) server.stopOnEof(0);

    int rc = 0;
    if (tcpPort >= 0) {
        const int port = server.listenTcp(static_cast<uint16_t>(tcpPort));
        if (port < 0) {
            std::fprintf(stderr, "cardsim_server: cannot listen on 127.0.0.1:%ld: %s\n", tcpPort, std::strerror(errno));
            return 1;
        }
        std::printf("PORT %d\n", port);
        std::fflush(stdout);
        server.serveTcp();
    } else if (!server.serveVpcd(vpcdHost, static_cast<uint16_t>(vpcdPort))) {
        std::fprintf(stderr, "cardsim_server: cannot resolve %s\n", vpcdHost.c_str());
        rc = 1;
    }
    g_server = nullptr;
    return rc;
}
