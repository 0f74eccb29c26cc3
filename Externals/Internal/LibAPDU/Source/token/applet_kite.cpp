#include "applet_kite.h"

#include "appcry/cry_kite.h"
#include "apperror/apperror.h"
#include "appfs/fs_kite.h"
#include "appinfo/info_kite.h"
#include "applabel/label_kite.h"
#include "apppack/pack_kite.h"
#include "apppin/pin_kite.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/applet_kite");

const path kAppFolder = {0x3F00, 0x6666};
const path kMasterFile = {0x3F00};
const TBytes kGetState = {0x00, 0xCA, 0x01, 0x83, 0x00};
const TBytes kAcknowledge = {0x80, 0x10, 0x00, 0x00};
const size_t kGetStateCapacity = 258;
// The first byte of the state object that asks for the acknowledgement.
const unsigned char kStateAwaitsAck = 0x10;

enum class Generation { None, Kite, Kite4 };

Generation GenerationOf(ISender* sender) {
    if (!sender) return Generation::None;  // no transport, no ATR
    const TTokenType* t = TTokenType::fromAtr(sender->atr());
    if (t == &TTokenType::TVelmoraKite16 || t == &TTokenType::TVelmoraKite32) return Generation::Kite;
    if (t == &TTokenType::TVelmoraKite42 || t == &TTokenType::TVelmoraKite42b) return Generation::Kite4;
    return Generation::None;
}
}  // namespace

CAppletKite::CAppletKite(ISender* sender) : IApplet(sender) {
    const Generation g = GenerationOf(sender);
    if (g == Generation::None) LIBAPDU_RAISE(kErrNotSupported);
    const bool kite4 = g == Generation::Kite4;
    setError(new CErrorKite);
    setFs(kite4 ? static_cast<IAppFS*>(new CFSKite4(this)) : new CFSKite(this));
    setPin(kite4 ? static_cast<IAppPin*>(new CPinKite4(this)) : new CPinKite(this));
    setInfo(new CInfoKite(this));
    setLabel(new CLabelKite(this));
    setPack(new CPackKite(this));
    // Kite4 tokens get their crypto facet from init, once the token's mode is known.
    if (!kite4) setCrypto(new CCryKite(this));
}

bool CAppletKite::checkIfExist(ISender* sender) { return GenerationOf(sender) != Generation::None; }

void CAppletKite::init() {
    fs()->select(kAppFolder);
    TBytes state(kGetStateCapacity, 0);
    sender()->send(kGetState, state);
    CheckSW(this, state);
    fs()->select(kMasterFile);
    // Read from the answer as it came, data and status word: only a data byte can be 10.
    if (ResponseDataSize(state) > 0 && state[0] == kStateAwaitsAck) {
        TBytes answer(2, 0);
        sender()->send(kAcknowledge, answer);
        CheckSW(this, answer);
    }
    const bool fips = info()->isFips();
    setCrypto(fips ? static_cast<IAppCrypto*>(new CCryKite4Fips(this)) : new CCryKite4(this));
}

}  // namespace libapdu
