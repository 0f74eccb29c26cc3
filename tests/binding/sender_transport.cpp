#include "sender_transport.h"

namespace KOVA {
namespace APDUSupport {

using libapdu::TBytes;

CSenderTransport::CSenderTransport(JNIEnv*, jobject card) : m_card(SenderOf(card)) {
    if (!m_card) libapdu::ExternalRaise(0xFFFF, L"tests/binding/sender_transport", __LINE__);
}

void CSenderTransport::send(const TBytes& command, TBytes& response) {
    // A call that handed over no card gets no answer, as over a Java card object that
    // cannot transmit: the caller's status-word check then fails it.
    if (!m_card) {
        response.clear();
        return;
    }
    m_card->send(command, response);
}

TBytes CSenderTransport::atr() { return m_card ? m_card->atr() : TBytes(); }

// The deliverables' transports take no control codes and leave the output as it was.
void CSenderTransport::control(unsigned int, const TBytes&, TBytes&) {}

void CSenderTransport::select_applet(unsigned short id) { m_appletId = id; }

void CSenderTransport::UpdateJavaParameters(JNIEnv*, jobject card) { m_card = SenderOf(card); }

}  // namespace APDUSupport
}  // namespace KOVA
