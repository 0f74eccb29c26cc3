// PIN facet of the Java applet, and the design it shares with the Heron applet:
// the PIN never travels to the card; the host derives keys from it and a salt
// kept on the card, answers a challenge with them and, on a FIPS token, rewrites
// a PIN's keys under secure messaging.
#ifndef LIBAPDU_PIN_JAVA_H
#define LIBAPDU_PIN_JAVA_H

#include "apppin/pin_common.h"

namespace libapdu LIBAPDU_API {

// Instruction bytes and the ways the two applets treat the admin PIN.
struct JavaPinCommands {
    unsigned char info, challenge, login, changeKey, marker;
    // The Java applet keeps its admin PIN in 3F00/6666: its counters are asked
    // there, and its key is derived from the PIN alone, not from the salt.
    bool adminInMasterDf;
    // The Heron applet wants its PIN folder selected before every login and
    // change, whatever PIN is selected; the Java applet only before a user login.
    bool pinFolderFirst;
};

class CPinJavaFamily : public CPinCommon {
public:
    // Slot of the login key: slots 1 to 4 carry secure messaging on a FIPS token.
    enum : size_t { kSlotLoginFips = 0, kSlotLogin = 3, kSlotCount = 5 };
    static constexpr size_t kSaltSize = 20;
    static constexpr size_t kKeySize = 24;

    void select(const path& designator) override;
    void login(const TBytes& pin) override;
    void change(const TBytes& newPin) override;
    void logout() override;
    PinInfo info() override;
    TBytes challengeGet() override;
    int encoding() override;
    void NamesInitProc() override;
    // The second user PIN a FIPS change passes through; empty on other tokens.
    virtual const path& pathUser2();

    TBytes saltGet();
    // Replaces key slots 0 to 4 with the keys of this PIN.
    void keyGen(const TBytes& pin);
    // Writes one key reference under secure messaging.
    void FipsFinChange(unsigned char reference, const TBytes& key);
    // The change marker the applet wants after every change of a PIN.
    void volatile_update();

protected:
    CPinJavaFamily(IApplet* owner, const JavaPinCommands& commands, const wchar_t* source);

    [[noreturn]] void raise(unsigned short code, unsigned long line) const;
    bool isFips();
    bool adminSelected();
    // The low byte of a designator's last element; 6B00 for an empty one.
    unsigned char referenceOf(const path& designator) const;
    // The change-key command for a reference (also the unblock layout).
    TBytes keyCommand(unsigned char ins, unsigned char reference, const TBytes& key) const;
    void readInfo(const TBytes& data);
    void changeFips(const TBytes& newPin);
    // Derives the admin key of the Java applet: from the PIN alone.
    static TBytes pinKey(const TBytes& pin);

    const JavaPinCommands& m_cmd;
    path m_pathUser2;
    path m_selected;
    path m_df;
    unsigned short m_reference = 0x11;  // the user PIN until a select says otherwise
    PinInfo m_info;

private:
    const wchar_t* m_source;
};

class CPinJava : public CPinJavaFamily {
public:
    explicit CPinJava(IApplet* owner);
    // Sets a new user PIN, whatever PIN is selected.
    void unblock(const TBytes& newPin) override;
};

}  // namespace libapdu

#endif
