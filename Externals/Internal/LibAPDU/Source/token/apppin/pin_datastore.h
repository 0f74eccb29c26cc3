// PIN facet of the DataStore applet: PINs 1 (user), 2 (admin) and 3 (global),
// presented in plain; counters and limits come from the applet's status record.
#ifndef LIBAPDU_PIN_DATASTORE_H
#define LIBAPDU_PIN_DATASTORE_H

#include "apppin/pin_common.h"

namespace libapdu LIBAPDU_API {

// Reads PIN pinId's entry from the status record (the answer to the status
// command with its status word removed): 6281 unless it is 30 or 34 bytes,
// 6B00 for a pinId outside 1..3.
PinInfo ParseDataStorePinStatus(const TBytes& record, unsigned short pinId);

class CPinDataStore : public CPinCommon {
public:
    explicit CPinDataStore(IApplet* owner);

    void select(const path& designator) override;
    void login(const TBytes& pin) override;
    void change(const TBytes& newPin) override;
    void logout() override;
    PinInfo info() override;
    int encoding() override;
    void NamesInitProc() override;

private:
    bool tooLong(const TBytes& pin) const;

    bool m_recordRead = false;  // the last select read the PIN's entry of the status record
    unsigned short m_reference = 0;  // the user PIN's until a select says otherwise
    PinInfo m_info;
};

}  // namespace libapdu

#endif
