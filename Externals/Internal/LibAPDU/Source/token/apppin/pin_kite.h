// PIN facets of the Kite applet (Kite16, Kite32) and its Kite4 variant (Kite42,
// Kite42b). Login is a challenge-response under a key derived on the host; the
// retry counter callers see is kept by the host in the token's PIN file. A FIPS
// token has its own designators, PIN file and login key, and changes a PIN by
// rewriting six key references under secure messaging.
#ifndef LIBAPDU_PIN_KITE_H
#define LIBAPDU_PIN_KITE_H

#include "apppin/pin_common.h"

namespace libapdu LIBAPDU_API {

class CPinKite : public CPinCommon {
public:
    // Key slots: 0 the PIN's TDEA key, 1 the FIPS login and MAC key, 3 the encryption key.
    enum : size_t { kSlotPin = 0, kSlotMac = 1, kSlotEnc = 3 };
    static constexpr size_t kSaltSize = 20;

    explicit CPinKite(IApplet* owner);
    ~CPinKite() override;

    void select(const path& designator) override;
    void login(const TBytes& pin) override;
    void change(const TBytes& newPin) override;
    void unblock(const TBytes& newPin) override;
    void logout() override;
    PinInfo info() override;
    TBytes challengeGet() override;
    int encoding() override;
    void NamesInitProc() override;

    virtual const path& pathEnc();
    virtual const path& pathSig();
    virtual const path& pathUser2();
    virtual const path& pathEnc2();
    virtual const path& pathSig2();

    TBytes saltGet();
    // Replaces the key slots with this PIN's keys; slot 0 alone when the PIN file
    // cannot be read.
    void keyGen(const TBytes& pin);
    unsigned short offset_userpin();
    unsigned short offset_adminpin();

protected:
    bool isFips();
    const path& pinFile();
    // The selected designator, refused (6B00) when none is.
    void requireSelected() const;
    bool isUser();
    bool isAdmin();
    // The low byte of a designator's last element; 6B00 for an empty one.
    static unsigned char referenceOf(const path& designator);
    // The host's retry record after a login answered `sw`.
    void updateRetryCounter(unsigned short sw);

    path m_pathEnc, m_pathSig, m_pathUser2, m_pathEnc2, m_pathSig2;
    path m_selected;
    path m_df;
    unsigned short m_reference = 0;
    PinInfo m_info;
};

class CPinKite4 : public CPinKite {
public:
    using CPinKite::CPinKite;
    ~CPinKite4() override;

    void change(const TBytes& newPin) override;

    // Writes one key reference under secure messaging; mode 0 for a user
    // reference, any other for the encryption and signature references.
    void FipsFinChange(unsigned char reference, const TBytes& key, unsigned char mode);

private:
    void changeFips(const TBytes& newPin);
    void fipsFinChangeSet(const path& user, const path& enc, const path& sig, const TBytes& k1, const TBytes& k3,
                          const TBytes& k1s);
};

}  // namespace libapdu

#endif
