// Key slots shared by every family's secure-messaging facet.
#ifndef LIBAPDU_PACK_COMMON_H
#define LIBAPDU_PACK_COMMON_H

#include "libapdu.internal.h"

#include <vector>

namespace libapdu LIBAPDU_API {

// The applet's store of session keys: numbered slots that a PIN facet fills at
// login and the same family's secure messaging reads. A slot cleared, replaced
// or destroyed lets its key go, and its bytes are wiped with it.
class CPackCommon : public IAppPack, public IAPDUDefinitions {
public:
    // Slot numbers in use are small (0 to 4); a wild index is refused rather
    // than allowed to grow the list without bound.
    static constexpr size_t kMaxSlots = 256;

    explicit CPackCommon(IApplet* owner);
    ~CPackCommon() override;
    CPackCommon(const CPackCommon&) = delete;
    CPackCommon& operator=(const CPackCommon&) = delete;

    // A copy of the key in the slot; 6900 when the slot is missing or empty.
    TBytes keyGet(size_t index) override;
    void keyClear() override;
    // Extends the list with empty slots up to index; 6B00 for index >= kMaxSlots.
    void keySet(size_t index, TBytes key) override;
    // Keeps a copy of the slots and empties them; keyRestore brings that copy
    // back, as often as it is called.
    void keySave() override;
    void keyRestore() override;

    // Judges an answer's status word through the owner's error facet.
    void checkSW(const TBytes& response);

protected:
    IApplet* owner() const { return m_owner; }

private:
    IApplet* m_owner;
    std::vector<TBytes> m_keys;
    std::vector<TBytes> m_saved;
};

}  // namespace libapdu

#endif
