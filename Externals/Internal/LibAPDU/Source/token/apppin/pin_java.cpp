#include "apppin/pin_java.h"

#include <algorithm>

#include "apppack/pack_java.h"
#include "crypto/crypto.h"
#include "java_marker.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/apppin/pin_java");

const JavaPinCommands kJavaPinCommands = {
    0x07,   // PIN information
    0x17,   // challenge
    0x11,   // login
    0x0F,   // change key
    0x1B,   // change marker
    true,   // admin PIN in 3F00/6666, keyed by the PIN alone
    false,  // PIN folder only before a user login
};
const unsigned char kJavaUnblockIns = 0x13;

const unsigned char kUserInfoP2 = 0x11;
const unsigned char kAdminInfoP2 = 0x21;
const size_t kInfoCapacity = 258;
const size_t kChallengeCapacity = 10;
const size_t kChallengeSize = 8;
const size_t kMacSize = 8;
const size_t kUsedValueBytes = 4;  // the card's counters sit in an element's first four bytes
const unsigned short kMinPinLength = 4;
const unsigned short kMaxPinLength = 16;
const unsigned char kTriesMaxDefault = 0x7F;
const size_t kSpoilerSize = 20;

const unsigned short kUserRef = 0x11;
const unsigned short kAdminRef = 0x21;
const unsigned short kGlobalRef = 0xFE;
const unsigned short kUser2Ref = 0x1A;

enum : unsigned char {
    kTagData = 0x10,
    kTagTriesLeft = 0x23,
    kTagTriesMax = 0x06,
    kTagLoginState = 0x20,
};

const path kMasterFile = {0x3F00};
const path kAdminFolder = {0x3F00, 0x6666};
const path kSaltFile = {0x000F};

// The part of an information element the card's counter lives in.
size_t Used(const TBytes& v) { return std::min(v.size(), kUsedValueBytes); }
}  // namespace

CPinJavaFamily::CPinJavaFamily(IApplet* owner, const JavaPinCommands& commands, const wchar_t* source)
    : CPinCommon(owner), m_cmd(commands), m_info(UnknownPinInfo()), m_source(source) {}

void CPinJavaFamily::raise(unsigned short code, unsigned long line) const { ExternalRaise(code, m_source, line); }

bool CPinJavaFamily::isFips() { return owner()->info()->isFips(); }

bool CPinJavaFamily::adminSelected() { return m_cmd.adminInMasterDf && m_selected == pathAdmin(); }

unsigned char CPinJavaFamily::referenceOf(const path& designator) const {
    if (designator.empty()) raise(kSwBadArgument, __LINE__);
    return static_cast<unsigned char>(designator.back() & 0xFF);
}

void CPinJavaFamily::NamesInitProc() {
    m_pathUser2.clear();
    m_pathUser.push_back(kUserRef);
    m_pathAdmin.push_back(kAdminRef);
    m_pathGlobal.push_back(kGlobalRef);
    if (isFips()) m_pathUser2.push_back(kUser2Ref);
}

const path& CPinJavaFamily::pathUser2() {
    NamesInit();
    return m_pathUser2;
}

int CPinJavaFamily::encoding() { return kPinEncodingUtf8; }

PinInfo CPinJavaFamily::info() { return m_info; }

TBytes CPinJavaFamily::challengeGet() {
    const TBytes challenge =
        exchange({0x80, m_cmd.challenge, 0x00, 0x00, static_cast<unsigned char>(kChallengeSize)}, kChallengeCapacity);
    if (challenge.size() != kChallengeSize) raise(kSwBadAnswer, __LINE__);
    return challenge;
}

TBytes CPinJavaFamily::saltGet() {
    TBytes salt(kSaltSize, 0);
    IAppFS* fs = owner()->fs();
    fs->select(kSaltFile);
    fs->read(salt, 0);
    if (salt.size() != kSaltSize) raise(kSwBadAnswer, __LINE__);
    return salt;
}

void CPinJavaFamily::keyGen(const TBytes& pin) {
    IAppPack* keys = owner()->pack();
    keys->keyClear();
    const TBytes salt = saltGet();
    try {
        for (size_t i = 0; i < kSlotCount; ++i) {
            TBytes key(kKeySize, 0);
            crypto_corvid_java_sha1(static_cast<int>(i), pin.data(), pin.size(), salt.data(), salt.size(),
                                    key.data(), key.size());
            keys->keySet(i, key);
        }
    } catch (...) {
        // A derivation that failed leaves no slot filled: no partial key set
        // is used for a login that would spend one of the PIN's tries.
        keys->keyClear();
        throw;
    }
}

TBytes CPinJavaFamily::pinKey(const TBytes& pin) {
    TBytes key(kKeySize, 0);
    crypto_corvid_md5_24(pin.data(), pin.size(), nullptr, 0, key.data(), key.size());
    return key;
}

TBytes CPinJavaFamily::keyCommand(unsigned char ins, unsigned char reference, const TBytes& key) const {
    CPinCommand c(0x80, ins, 0x00, reference);
    c.byte(kTagData).lengthOf(key).bytes(key);
    return c.build();
}

void CPinJavaFamily::readInfo(const TBytes& data) {
    // Each counter is kept as soon as it is read: a later malformed element
    // leaves the earlier ones in place.
    const TBytes left = JavaTlvFind(data, kTagTriesLeft, m_source);
    m_info.triesLeft = left.empty() ? 0 : left[Used(left) - 1];

    const TBytes limit = JavaTlvFind(data, kTagTriesMax, m_source);
    const unsigned char bits = limit.empty() ? 0 : static_cast<unsigned char>(limit[Used(limit) - 1] & 0x0F);
    m_info.triesMax = bits ? bits : kTriesMaxDefault;

    const TBytes state = JavaTlvFind(data, kTagLoginState, m_source);
    const bool verified = std::any_of(state.begin(), state.begin() + Used(state), [](unsigned char b) { return b; });
    m_info.loginState = verified ? kLoginVerified : kLoginNotVerified;
}

void CPinJavaFamily::select(const path& designator) {
    // An empty designator names no PIN: refused before anything changes or is sent.
    if (designator.empty()) raise(kSwBadArgument, __LINE__);
    m_selected = designator;
    m_df.assign(designator.begin(), designator.end() - 1);
    m_reference = designator.back();
    m_info = UnknownPinInfo();

    if (designator == pathUser()) {
        owner()->fs()->select(m_df);
        readInfo(exchange({0x80, m_cmd.info, 0x00, kUserInfoP2, 0x05, kTagData, 0x03, kTagTriesLeft, kTagTriesMax,
                           kTagLoginState, 0x00},
                          kInfoCapacity));
    } else if (m_cmd.adminInMasterDf && designator == pathAdmin()) {
        owner()->fs()->select(kAdminFolder);
        readInfo(exchange({0x80, m_cmd.info, 0x00, kAdminInfoP2, 0x05, kTagData, 0x03, kTagTriesLeft, kTagTriesMax,
                           kTagLoginState, 0x00},
                          kInfoCapacity));
    }
    m_info.minLength = kMinPinLength;
    m_info.maxLength = kMaxPinLength;
}

void CPinJavaFamily::login(const TBytes& pin) {
    TBytes key;
    const bool admin = adminSelected();
    if (admin) {
        key = pinKey(pin);
    } else {
        keyGen(pin);
        key = owner()->pack()->keyGet(isFips() ? kSlotLoginFips : kSlotLogin);
    }

    const TBytes challenge = challengeGet();
    TBytes mac(kMacSize, 0);
    crypto_corvid_des3_mac(challenge.data(), challenge.size(), key.data(), key.size(), mac.data(),
                           mac.size());

    // After the challenge: the applet keeps it across a selection.
    if (m_cmd.pinFolderFirst || m_selected == pathUser())
        owner()->fs()->select(m_df);
    else if (admin)
        owner()->fs()->select(kAdminFolder);

    CPinCommand c(0x80, m_cmd.login, 0x00, static_cast<unsigned char>(m_reference & 0xFF));
    c.byte(kTagData).lengthOf(mac).bytes(mac);
    const unsigned short sw = statusOf(transmit(c.build()));
    // An unknown count stays unknown rather than turning into 254 tries.
    if (m_info.triesLeft != 0 && m_info.triesLeft != kTriesUnknown) --m_info.triesLeft;
    judge(sw);
    m_info.loginState = kLoginVerified;
    m_info.triesLeft = m_info.triesMax;
}

void CPinJavaFamily::change(const TBytes& newPin) {
    if (isFips()) {
        changeFips(newPin);
        return;
    }
    TBytes key;
    if (adminSelected()) {
        key = pinKey(newPin);
    } else {
        keyGen(newPin);
        key = owner()->pack()->keyGet(kSlotLogin);
    }
    if (m_cmd.pinFolderFirst) owner()->fs()->select(m_df);
    const TBytes command(keyCommand(m_cmd.changeKey, static_cast<unsigned char>(m_reference & 0xFF), key));
    exchange(command);
    volatile_update();
}

void CPinJavaFamily::changeFips(const TBytes& newPin) {
    IAppPack* keys = owner()->pack();
    TBytes newKeys[kSlotCount];
    TBytes spoilKeys[kSlotCount];
    const unsigned char user2 = referenceOf(pathUser2());
    const unsigned char user = referenceOf(pathUser());

    // The new PIN's keys, derived while the current login's keys are put aside:
    // those protect the first rewrite.
    keys->keySave();
    try {
        keyGen(newPin);
        for (size_t i = 0; i < kSlotCount; ++i) newKeys[i] = keys->keyGet(i);
    } catch (...) {
        // The session keys must come back, or nothing further could be protected.
        keys->keyRestore();
        throw;
    }
    keys->keyRestore();

    // The new PIN onto the second user PIN, under the current login.
    owner()->fs()->select(m_df);
    for (size_t i = 0; i < kSlotCount; ++i)
        FipsFinChange(static_cast<unsigned char>(user2 + i), newKeys[i]);
    select(pathUser2());
    login(newPin);

    // The new PIN onto the user PIN, under the second user PIN's session.
    owner()->fs()->select(m_df);
    for (size_t i = 0; i < kSlotCount; ++i)
        FipsFinChange(static_cast<unsigned char>(user + i), newKeys[i]);

    // The second user PIN spoiled with keys of a value nobody knows.
    {
        TBytes spoiler(kSpoilerSize, 0);
        crypto_random(spoiler.data(), spoiler.size());
        keyGen(spoiler);
    }
    for (size_t i = 0; i < kSlotCount; ++i) spoilKeys[i] = keys->keyGet(i);
    select(pathUser());
    login(newPin);
    owner()->fs()->select(m_df);
    for (size_t i = 0; i < kSlotCount; ++i)
        FipsFinChange(static_cast<unsigned char>(user2 + i), spoilKeys[i]);
    volatile_update();
}

void CPinJavaFamily::FipsFinChange(unsigned char reference, const TBytes& key) {
    const TBytes command(keyCommand(m_cmd.changeKey, reference, key));
    TBytes answer(2, 0);
    owner()->pack()->sm(command, answer);
    judge(statusOf(answer));
}

void CPinJavaFamily::volatile_update() { SendJavaMarker(owner(), 0x80, m_cmd.marker); }

void CPinJavaFamily::logout() {
    m_info.loginState = kLoginNotVerified;
    try {
        owner()->fs()->select(kMasterFile);
    } catch (...) {
        // The session keys must not outlive a logout whose selection failed.
        clearKeySlots();
        throw;
    }
    clearKeySlots();
}

// ---------------------------------------------------------------- CPinJava

CPinJava::CPinJava(IApplet* owner) : CPinJavaFamily(owner, kJavaPinCommands, kSource) {}

void CPinJava::unblock(const TBytes& newPin) {
    keyGen(newPin);
    const TBytes key(owner()->pack()->keyGet(kSlotLogin));
    const TBytes command(keyCommand(kJavaUnblockIns, referenceOf(pathUser()), key));
    exchange(command);
    volatile_update();
}

}  // namespace libapdu
