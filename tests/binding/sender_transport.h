// A token transport over an ISender of the test's own (a simulated card, a scripted
// or a fuzzing sender). Where the deliverables take the Java card object of the
// current call, this one takes the sender, passed as that object (CardOf), and like
// theirs it is handed the sender of every call again before the call's module
// operation.
#ifndef TESTS_BINDING_SENDER_TRANSPORT_H
#define TESTS_BINDING_SENDER_TRANSPORT_H

#include <jni.h>

#include "libapdu.h"

namespace KOVA {
namespace APDUSupport {

class CSenderTransport : public libapdu::ISender {
public:
    // Raises FFFF for a null sender, as the javax.smartcardio transport does for a null card.
    CSenderTransport(JNIEnv* env, jobject card);

    void send(const libapdu::TBytes& command, libapdu::TBytes& response) override;
    libapdu::TBytes atr() override;
    void control(unsigned int code, const libapdu::TBytes& in, libapdu::TBytes& out) override;
    virtual void select_applet(unsigned short id);

    void UpdateJavaParameters(JNIEnv* env, jobject card);

    unsigned short appletId() const { return m_appletId; }
    libapdu::ISender* card() const { return m_card; }

    static jobject CardOf(libapdu::ISender* sender) { return reinterpret_cast<jobject>(sender); }
    static libapdu::ISender* SenderOf(jobject card) { return reinterpret_cast<libapdu::ISender*>(card); }

private:
    unsigned short m_appletId = 0;
    libapdu::ISender* m_card;
};

}  // namespace APDUSupport
}  // namespace KOVA

#endif
