#include "apppack/pack_common.h"

#include <utility>

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/apppack/pack_common");
}

CPackCommon::CPackCommon(IApplet* owner) : m_owner(owner) {}

CPackCommon::~CPackCommon() = default;

TBytes CPackCommon::keyGet(size_t index) {
    if (index >= m_keys.size() || m_keys[index].empty()) LIBAPDU_RAISE(kSwRefused);
    return m_keys[index];
}

void CPackCommon::keyClear() { m_keys.clear(); }

void CPackCommon::keySet(size_t index, TBytes key) {
    if (index >= kMaxSlots) LIBAPDU_RAISE(kSwBadArgument);
    if (m_keys.size() < index + 1) m_keys.resize(index + 1);
    m_keys[index] = std::move(key);
}

void CPackCommon::keySave() {
    m_saved = m_keys;
    keyClear();
}

void CPackCommon::keyRestore() { m_keys = m_saved; }

void CPackCommon::checkSW(const TBytes& response) { CheckSW(m_owner, response); }

}  // namespace libapdu
