#include "appbio/bio_tessel.h"

#include <cstring>

#include "appfs/fs_common.h"
#include "apppin/pin_tessel.h"
#include "crypto/crypto.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/appbio/bio_tessel");

const TBytes kListFingers = {0x80, 0x48, 0x00, 0x00, 0x00};
const TBytes kReadLoginType = {0x80, 0xA4, 0x08, 0x0C, 0x06, 0x3F, 0x00, 0x30, 0x00, 0x30, 0x02, 0x00};
const TBytes kPrepareEnrol = {0x80, 0x2C, 0x00, 0x00};
const TBytes kChallenge = {0x00, 0x84, 0x00, 0x00, 0x08};
const size_t kReply = 1024;
const size_t kSelectReply = 258;
const size_t kChallengeReply = 10;
const size_t kBlock = 8;
const size_t kMoCResult = 20;
const unsigned char kAlgorithmName[] = "Precise BioMatch 3.0";  // 20 letters and the zero byte

enum : unsigned char {
    kTagFcp = 0x62,
    kTagFinger = 0x83,
    kTagFirst = 0x81,
    kTagSecond = 0x82,
    kTagAlgorithm = 0x84,
    kTagAccess = 0x86,
    kTagFingers = 0xEA,
    kTagPublicData = 0x82,
    kClaChained = 0x10,
};

bool WarningFromLastPart(const TBytes& answer) {
    const size_t n = answer.size();
    return n >= 2 && answer[n - 2] == 0x63 && (answer[n - 1] & 0xC0) == 0xC0;
}
}  // namespace

CBioTessel::CBioTessel(IApplet* owner) : m_bioPath{0x3F00, 0x23}, m_owner(owner) {}

CBioTessel::~CBioTessel() = default;

TBytes CBioTessel::exchange(const TBytes& command, size_t replySize) {
    TBytes response(replySize, 0);
    m_owner->sender()->send(command, response);
    CheckSW(m_owner, response);
    return response;
}

void CBioTessel::select(const path& p) {
    // Lc is one byte: 127 identifiers at most.
    if (p.size() > 127) LIBAPDU_RAISE(kSwBadArgument);
    m_bioPath = p;
    TBytes command = {0x80, 0xA4, 0x08, 0x0C, static_cast<unsigned char>(2 * p.size())};
    for (unsigned short id : p) PutBE16(command, id);
    command.push_back(0x00);
    exchange(command, kSelectReply);
}

unsigned int CBioTessel::loginType() {
    const TBytes access = TesselFcpFind(exchange(kReadLoginType, kReply), kTagAccess);
    if (access.size() < 2) throw 0;
    const unsigned char b = access[1];
    return b == 0x20 || b == 0x23 || b == 0x24 || b == 0x25 ? b : 0;
}

TBytes CBioTessel::getEnrolledFingers() {
    const TBytes answer = exchange(kListFingers, kReply);
    const TBytes fingers = TesselTlvFind(answer, 0, ResponseDataSize(answer), kTagFingers);
    TBytes out;
    for (unsigned char b : fingers)
        if (b) out.push_back(static_cast<unsigned char>(b - 1));
    return out;
}

TBytes CBioTessel::readPublicBioData(unsigned char finger) {
    const TBytes answer = exchange(TBytes{0x80, 0x48, finger, 0x00, 0x00}, kReply);
    const CBERTLV e = CBERTLV::answer(answer).getChild(kTagPublicData);
    return TBytes(e.value, e.value + e.length);
}

TBytes CBioTessel::sendParts(const TBytes& body, unsigned char ins, unsigned char p1, unsigned char lastCla) {
    const size_t n = body.size();
    const size_t parts = (n + kPartSize - 1) / kPartSize;
    TBytes answer;
    for (size_t i = 0; i < parts; ++i) {
        const bool last = i + 1 == parts;
        const size_t from = i * kPartSize;
        const size_t take = last ? n - from : kPartSize;
        TBytes command = {last ? lastCla : static_cast<unsigned char>(kClaChained), ins, p1, 0x00,
                          static_cast<unsigned char>(take)};
        command.insert(command.end(), body.begin() + static_cast<std::ptrdiff_t>(from),
                       body.begin() + static_cast<std::ptrdiff_t>(from + take));
        if (last) command.push_back(0x00);
        answer.assign(kReply, 0);
        m_owner->sender()->send(command, answer);
        // A refused last part is a failed match, not a wrong PIN.
        if (last && WarningFromLastPart(answer)) LIBAPDU_RAISE(0x6286);
        CheckSW(m_owner, answer);
    }
    return answer;
}

TBytes CBioTessel::appletMoC(const TBytes& data, unsigned char finger) {
    if (data.size() > kMaxMoCData) LIBAPDU_RAISE(kSwBadArgument);
    const size_t n = data.size();
    TBytes body = {kTagFcp, 0x82, static_cast<unsigned char>((n + 7) >> 8), static_cast<unsigned char>((n + 7) & 0xFF),
                   kTagFinger, 0x01, finger, kTagFirst, 0x82, static_cast<unsigned char>(n >> 8),
                   static_cast<unsigned char>(n & 0xFF)};
    body.insert(body.end(), data.begin(), data.end());
    const TBytes answer = sendParts(body, 0x22, 0x02, 0x00);
    // A short last answer leaves the rest of the result zero.
    TBytes result(kMoCResult, 0);
    std::copy(answer.begin(), answer.begin() + static_cast<std::ptrdiff_t>(std::min(answer.size(), kMoCResult)),
              result.begin());
    return result;
}

void CBioTessel::enrollTemplate(const TBytes& first, const TBytes& second, unsigned char finger) {
    TBytes ignored(kReply, 0);
    m_owner->sender()->send(kPrepareEnrol, ignored);

    TagValue tmpl(kTagFcp);
    tmpl.Append(TagValue(kTagFirst, first));
    tmpl.Append(TagValue(kTagSecond, second));
    tmpl.Append(TagValue(kTagFinger, TBytes{finger}));
    tmpl.Append(TagValue(kTagAlgorithm, TBytes(kAlgorithmName, kAlgorithmName + sizeof kAlgorithmName)));
    sendParts(tmpl.Format(), 0x24, 0x00, 0x80);
}

void CBioTessel::eraseTemplate(unsigned char finger) {
    TagValue fcp(kTagFcp, TagValue(kTagFingers, TBytes{finger}).Format());
    const TBytes body = fcp.Format();
    TBytes command = {0x80, 0x24, 0x00, 0x00, static_cast<unsigned char>(body.size())};
    command.insert(command.end(), body.begin(), body.end());
    exchange(command, kReply);
}

void CBioTessel::loginByTicket(const TBytes& ticketText) {
    CTesselTicket ticket;
    ticket.load(ticketText);

    TBytes challenge = exchange(kChallenge, kChallengeReply);
    if (ResponseDataSize(challenge) != kBlock) LIBAPDU_RAISE(kSwBadAnswer);
    unsigned char cryptogram[kBlock] = {0};
    {
        const TBytes key = ticket.key();
        crypto_corvid_des3cbc_enc(challenge.data(), kBlock, key.data(), key.size(), cryptogram, sizeof cryptogram);
    }
    m_owner->bio()->select(path(m_bioPath));

    TBytes command = {0x00, 0x22, 0x03, 0x00, 0x0C};
    const TBytes id = ticket.keyId();
    command.insert(command.end(), id.begin(), id.end());
    command.insert(command.end(), cryptogram, cryptogram + kBlock);
    SecureWipe(cryptogram, sizeof cryptogram);
    exchange(command, kReply);
}

}  // namespace libapdu
