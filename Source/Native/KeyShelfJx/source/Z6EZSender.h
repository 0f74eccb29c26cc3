// Transport of libKeyShelfJx: every APDU goes through javax.smartcardio on the
// Java thread of the current native call.
#ifndef KEYSHELF_Z6EZSENDER_H
#define KEYSHELF_Z6EZSENDER_H

#include <jni.h>

#include "libapdu.h"

namespace KOVA {
namespace APDUSupport {

class Z6EZSender : public libapdu::ISender {
public:
    Z6EZSender(JNIEnv* env, jobject card);
    ~Z6EZSender() override;
    // Owns global references: a copy would release them twice.
    Z6EZSender(const Z6EZSender&) = delete;
    Z6EZSender& operator=(const Z6EZSender&) = delete;

    // The Java arrays of the command and of the answer's data, the library's own
    // copies, are zeroed before it returns, whichever way it ends.
    void send(const libapdu::TBytes& command, libapdu::TBytes& response) override;
    libapdu::TBytes atr() override;
    void control(unsigned int code, const libapdu::TBytes& in, libapdu::TBytes& out) override;
    virtual void select_applet(unsigned short id);

    void UpdateJavaParameters(JNIEnv* env, jobject card);

    unsigned short appletId() const { return m_appletId; }

    // The bytes that actually go to CommandAPDU: a zero-length short Lc is dropped,
    // an extended Lc gets a two-byte Le, and a short Lc keeps a one-byte Le (the JDK
    // refuses a short Lc followed by a two-byte Le).
    static libapdu::TBytes rewrite(const libapdu::TBytes& command);

private:
    unsigned short m_appletId = 0;
    JNIEnv* m_env;
    jobject m_card;
    // Looked up once per transport on the declared classes Card and CardChannel.
    jmethodID m_getCardChannelMethodID = nullptr;
    jmethodID m_sendAPDUMethodID = nullptr;
    jmethodID m_getATR = nullptr;    // Card.getATR
    jmethodID m_getBytes = nullptr;  // ATR.getBytes

    // Looked up once per transport instead of once per APDU.
    JavaVM* m_vm = nullptr;
    jclass m_commandClass = nullptr;   // global reference
    jclass m_responseClass = nullptr;  // global reference
    jmethodID m_commandInit = nullptr;
    jmethodID m_getData = nullptr;
    jmethodID m_getSW1 = nullptr;
    jmethodID m_getSW2 = nullptr;
};

}  // namespace APDUSupport
}  // namespace KOVA

#endif
