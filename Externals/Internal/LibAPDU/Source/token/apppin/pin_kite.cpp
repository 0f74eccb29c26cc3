#include "apppin/pin_kite.h"

#include "crypto/crypto.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/apppin/pin_kite");

const size_t kKeySize = 24;
const size_t kMacSize = 8;
const size_t kChallengeSize = 8;
const size_t kGetDataCapacity = 258;
const size_t kRandomPinSize = 20;

const path kPinFile = {0x3F00, 0x6666, 0x1000, 0x0004};
const path kPinFileFips = {0x3F00, 0x6666, 0x5000, 0x000F};
const path kMasterFile = {0x3F00};

const unsigned short kUser = 0x01, kAdmin = 0x05;
const unsigned short kUserFips = 0x11, kEncFips = 0x12, kSigFips = 0x13;
const unsigned short kUser2Fips = 0x1A, kEnc2Fips = 0x1B, kSig2Fips = 0x1C;

const unsigned short kOffsetUserFips = 41;
const unsigned short kOffsetAdmin = 2;

const TBytes kGetLoginState = {0x00, 0xCA, 0x01, 0x84, 0x00};
const TBytes kGetChallenge = {0x00, 0x84, 0x00, 0x00, static_cast<unsigned char>(kChallengeSize)};
// PUT DATA 016E before the key: the PIN object's identifier, its policy, its
// owner and the tag of the key that follows.
const TBytes kUnblockHead = {0x00, 0xDA, 0x01, 0x6E, 0x2C, 0x83, 0x02, 0x00, 0x01, 0x85, 0x08, 0x02, 0x0F,
                             0x82, 0x0F, 0xFF, 0xFF, 0x00, 0x00, 0x86, 0x02, 0x00, 0x01, 0x8F, 0x18};

TBytes Md5Key(const TBytes& pin) {
    TBytes key(kKeySize, 0);
    crypto_corvid_md5_24(pin.data(), pin.size(), nullptr, 0, key.data(), key.size());
    return key;
}

TBytes Sha1Key(int id, const TBytes& pin, const TBytes& salt) {
    TBytes key(kKeySize, 0);
    crypto_corvid_kite_sha1(id, pin.data(), pin.size(), salt.data(), salt.size(), key.data(), key.size());
    return key;
}

// The two bytes of a retry record: tries left, then the limit.
void ReadRecord(IAppFS* fs, const path& file, unsigned short offset, TBytes& record) {
    fs->select(file);
    record.assign(2, 0);
    fs->read(record, offset);
}
}  // namespace

CPinKite::CPinKite(IApplet* owner) : CPinCommon(owner), m_info(UnknownPinInfo()) {}

CPinKite::~CPinKite() = default;

CPinKite4::~CPinKite4() = default;

bool CPinKite::isFips() { return owner()->info()->isFips(); }

const path& CPinKite::pinFile() { return isFips() ? kPinFileFips : kPinFile; }

void CPinKite::NamesInitProc() {
    m_pathEnc.clear();
    m_pathSig.clear();
    m_pathUser2.clear();
    m_pathEnc2.clear();
    m_pathSig2.clear();
    if (isFips()) {
        m_pathUser = {kUserFips};
        m_pathEnc = {kEncFips};
        m_pathSig = {kSigFips};
        m_pathUser2 = {kUser2Fips};
        m_pathEnc2 = {kEnc2Fips};
        m_pathSig2 = {kSig2Fips};
    } else {
        m_pathUser = {kUser};
        m_pathAdmin = {kAdmin};
    }
}

const path& CPinKite::pathEnc() {
    NamesInit();
    return m_pathEnc;
}
const path& CPinKite::pathSig() {
    NamesInit();
    return m_pathSig;
}
const path& CPinKite::pathUser2() {
    NamesInit();
    return m_pathUser2;
}
const path& CPinKite::pathEnc2() {
    NamesInit();
    return m_pathEnc2;
}
const path& CPinKite::pathSig2() {
    NamesInit();
    return m_pathSig2;
}

unsigned short CPinKite::offset_userpin() { return isFips() ? kOffsetUserFips : 0; }

unsigned short CPinKite::offset_adminpin() { return kOffsetAdmin; }

unsigned char CPinKite::referenceOf(const path& designator) {
    if (designator.empty()) LIBAPDU_RAISE(kSwBadArgument);
    return static_cast<unsigned char>(designator.back() & 0xFF);
}

void CPinKite::requireSelected() const {
    if (m_selected.empty()) LIBAPDU_RAISE(kSwBadArgument);
}

// An empty designator never counts as one of the two: on a FIPS token the admin
// designator is empty, and nothing selected must not pass for it.
bool CPinKite::isUser() { return !m_selected.empty() && m_selected == pathUser(); }
bool CPinKite::isAdmin() { return !m_selected.empty() && m_selected == pathAdmin(); }

TBytes CPinKite::saltGet() {
    TBytes salt(kSaltSize, 0);
    IAppFS* fs = owner()->fs();
    fs->select(pinFile());
    fs->read(salt, 0);
    return salt;
}

void CPinKite::keyGen(const TBytes& pin) {
    IAppPack* pack = owner()->pack();
    pack->keyClear();
    pack->keySet(kSlotPin, Md5Key(pin));
    try {
        const TBytes salt = saltGet();
        pack->keySet(kSlotMac, Sha1Key(1, pin, salt));
        pack->keySet(kSlotEnc, Sha1Key(3, pin, salt));
    } catch (const IException&) {
        // Without the PIN file only the key of slot 0 can be made.
    }
}

void CPinKite::select(const path& designator) {
    m_selected.clear();
    m_df.clear();
    m_reference = 0;
    m_info = UnknownPinInfo();
    if (designator.empty()) LIBAPDU_RAISE(kSwBadArgument);
    m_selected = designator;
    m_df.assign(designator.begin(), designator.end() - 1);
    m_reference = designator.back();

    const TBytes data = exchange(kGetLoginState, kGetDataCapacity);
    m_info.loginState = kLoginNotVerified;
    for (unsigned char b : data)
        if (b == m_reference) m_info.loginState = kLoginVerified;
    m_info.minLength = 4;
    m_info.maxLength = 16;

    try {
        const bool user = isUser();
        if (user || isAdmin()) {
            TBytes record;
            ReadRecord(owner()->fs(), pinFile(), user ? offset_userpin() : offset_adminpin(), record);
            m_info.triesLeft = record[0];
            m_info.triesMax = record[1];
        }
    } catch (...) {
        // The counters stay unknown when the PIN file cannot be read.
    }
}

TBytes CPinKite::challengeGet() {
    TBytes challenge = exchange(kGetChallenge, kChallengeSize + 2);
    if (challenge.size() != kChallengeSize) LIBAPDU_RAISE(kSwBadAnswer);
    return challenge;
}

void CPinKite::login(const TBytes& pin) {
    if (pin.empty()) LIBAPDU_RAISE(0x6300);
    requireSelected();
    const bool admin = isAdmin();
    TBytes key;
    if (admin) {
        key = Md5Key(pin);
    } else {
        keyGen(pin);
        key = owner()->pack()->keyGet(isFips() ? kSlotMac : kSlotPin);
    }
    const TBytes challenge = challengeGet();
    TBytes mac(kMacSize, 0);
    crypto_corvid_des3_mac(challenge.data(), challenge.size(), key.data(), key.size(), mac.data(),
                           mac.size());

    owner()->fs()->select(m_df);
    CPinCommand command(0x00, 0x82, 0x00, static_cast<unsigned char>((m_reference & 0xFF) | 0x80));
    command.bytes(mac);
    const unsigned short sw = statusOf(transmit(command.build()));
    if (admin || isUser()) updateRetryCounter(sw);
    judge(sw);
    m_info.loginState = kLoginVerified;
}

void CPinKite::updateRetryCounter(unsigned short sw) {
    try {
        IAppFS* fs = owner()->fs();
        const unsigned short offset = isUser() ? offset_userpin() : offset_adminpin();
        TBytes record;
        ReadRecord(fs, pinFile(), offset, record);
        bool changed = false;
        if (sw == 0x9000 && record[0] != record[1]) {
            record[0] = record[1];
            changed = true;
        } else if (sw == 0x6300 && record[0] != 0) {
            --record[0];
            changed = true;
        }
        if (changed) fs->write(record, offset);
        m_info.triesLeft = record[0];
        m_info.triesMax = record[1];
    } catch (const IException&) {
        // The login's own answer is what the caller hears.
    }
}

void CPinKite::change(const TBytes& newPin) {
    if (isFips()) LIBAPDU_RAISE(kErrNotSupported);
    if (newPin.empty()) LIBAPDU_RAISE(0x6300);
    requireSelected();
    const bool admin = isAdmin();
    TBytes key;
    if (admin) {
        key = Md5Key(newPin);
    } else {
        keyGen(newPin);
        key = owner()->pack()->keyGet(kSlotPin);
    }
    owner()->fs()->select(m_df);
    CPinCommand command(0x00, 0x24, 0x01, admin ? 0x85 : static_cast<unsigned char>((m_reference & 0xFF) | 0x80));
    command.bytes(key);
    const TBytes apdu = command.build();
    judge(statusOf(transmit(apdu)));
}

void CPinKite::unblock(const TBytes& newPin) {
    if (newPin.empty()) LIBAPDU_RAISE(0x6300);
    keyGen(newPin);
    const TBytes key(owner()->pack()->keyGet(kSlotPin));
    IAppFS* fs = owner()->fs();
    fs->select(path());
    TBytes command;
    command.reserve(kUnblockHead.size() + key.size());
    command.insert(command.end(), kUnblockHead.begin(), kUnblockHead.end());
    command.insert(command.end(), key.begin(), key.end());
    judge(statusOf(transmit(command)));

    // The card's own counter is full again; so is the host's record.
    const unsigned short offset = offset_userpin();
    TBytes record;
    ReadRecord(fs, pinFile(), offset, record);
    if (record[0] != record[1]) {
        record[0] = record[1];
        fs->write(record, offset);
    }
}

void CPinKite::logout() {
    m_info.loginState = kLoginNotVerified;
    try {
        owner()->fs()->select(kMasterFile);
    } catch (...) {
        // The session keys must not outlive a logout, whatever the card said.
        clearKeySlots();
        throw;
    }
    clearKeySlots();
}

PinInfo CPinKite::info() { return m_info; }

int CPinKite::encoding() { return kPinEncodingUtf8; }

// ---------------------------------------------------------------- Kite4

void CPinKite4::FipsFinChange(unsigned char reference, const TBytes& key, unsigned char mode) {
    CPinCommand command(0x90, 0x24, mode == 0 ? 0x00 : 0x10, static_cast<unsigned char>(reference | 0x80));
    command.bytes(key);
    const TBytes apdu = command.build();
    TBytes answer;
    owner()->pack()->sm(apdu, answer);
    judge(statusOf(answer));
}

void CPinKite4::fipsFinChangeSet(const path& user, const path& enc, const path& sig, const TBytes& k1,
                                 const TBytes& k3, const TBytes& k1s) {
    FipsFinChange(referenceOf(user), k1, 0);
    FipsFinChange(referenceOf(enc), k3, 1);
    FipsFinChange(referenceOf(sig), k1s, 2);
}

void CPinKite4::change(const TBytes& newPin) {
    if (newPin.empty()) LIBAPDU_RAISE(0x6300);
    requireSelected();
    if (isFips()) {
        changeFips(newPin);
        return;
    }
    keyGen(newPin);
    const TBytes key(owner()->pack()->keyGet(kSlotPin));
    owner()->fs()->select(m_df);
    // The card takes the new key for the user reference, whatever designator is selected.
    CPinCommand command(0x90, 0x24, 0x00, 0x81);
    command.bytes(key);
    const TBytes apdu = command.build();
    judge(statusOf(transmit(apdu)));
}

void CPinKite4::changeFips(const TBytes& newPin) {
    IAppPack* pack = owner()->pack();
    IAppFS* fs = owner()->fs();

    // Phase one: the new keys onto the second reference set, under the keys of
    // the current login.
    pack->keySave();
    keyGen(newPin);
    TBytes k1(pack->keyGet(kSlotMac)), k3(pack->keyGet(kSlotEnc)), k1s(pack->keyGet(kSlotMac));
    pack->keyRestore();
    fs->select(m_df);
    fipsFinChangeSet(pathUser2(), pathEnc2(), pathSig2(), k1, k3, k1s);
    select(pathUser2());
    login(newPin);

    // Phase two: the new keys onto the primary set, under the second set's new keys.
    fs->select(m_df);
    fipsFinChangeSet(pathUser(), pathEnc(), pathSig(), k1, k3, k1s);

    // Phase three: the second set gets the keys of a random value nobody keeps.
    {
        TBytes random(kRandomPinSize, 0);
        crypto_random(random.data(), random.size());
        keyGen(random);
    }
    k1 = pack->keyGet(kSlotMac);
    k3 = pack->keyGet(kSlotEnc);
    k1s = pack->keyGet(kSlotMac);
    select(pathUser());
    login(newPin);
    fipsFinChangeSet(pathUser2(), pathEnc2(), pathSig2(), k1, k3, k1s);
}

}  // namespace libapdu
