#include "apppack/pack_common.h"

#include <utility>

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/apppack/pack_common");
}

CPackCommon::CPackCommon(IApplet* owner) : m_owner(owner) {}

CPackCommon::~CPackCommon() {
    wipeAll(m_keys);
    wipeAll(m_saved);
}

void CPackCommon::wipeAll(std::vector<TBytes>& slots) {
    for (TBytes& k : slots) SecureWipe(k);
    slots.clear();
}

TBytes CPackCommon::keyGet(size_t index) {
    if (index >= m_keys.size() || m_keys[index].empty()) LIBAPDU_RAISE(kSwRefused);
    return m_keys[index];
}

void CPackCommon::keyClear() { wipeAll(m_keys); }

void CPackCommon::keySet(size_t index, TBytes key) {
    if (index >= kMaxSlots) {
        SecureWipe(key);
        LIBAPDU_RAISE(kSwBadArgument);
    }
    if (m_keys.size() < index + 1) m_keys.resize(index + 1);
    SecureWipe(m_keys[index]);
    // Moved, not copied: no second copy of the key is left behind to wipe.
    m_keys[index] = std::move(key);
}

void CPackCommon::keySave() {
    wipeAll(m_saved);
    m_saved = m_keys;
    keyClear();
}

void CPackCommon::keyRestore() {
    wipeAll(m_keys);
    m_keys = m_saved;
}

void CPackCommon::checkSW(const TBytes& response) { CheckSW(m_owner, response); }

}  // namespace libapdu
