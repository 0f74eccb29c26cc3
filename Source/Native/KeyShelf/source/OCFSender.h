// Transport of libKeyShelf: every APDU goes through an OpenCard Framework card
// service, the one of the current native call, and its card channel.
#ifndef KEYSHELF_OCFSENDER_H
#define KEYSHELF_OCFSENDER_H

#include <jni.h>

#include "libapdu.h"

namespace KOVA {
namespace APDUSupport {

class OCFSender : public libapdu::ISender {
public:
    // Raises 6B00 when the service offers no channel, or lacks one of the four methods.
    OCFSender(JNIEnv* env, jobject service);
    ~OCFSender() override;

    // The bytes go to the channel exactly as given; a failure of any step raises 6B00.
    void send(const libapdu::TBytes& command, libapdu::TBytes& response) override;
    // The ATR of the service's card, or nothing when it cannot be had.
    libapdu::TBytes atr() override;
    void control(unsigned int code, const libapdu::TBytes& in, libapdu::TBytes& out) override;
    virtual void select_applet(unsigned short id);

    // Stores both, then raises 6B00 when either is null.
    void UpdateJavaParameters(JNIEnv* env, jobject service);

    unsigned short appletId() const { return m_appletId; }

private:
    unsigned short m_appletId = 0;
    JNIEnv* m_env;
    jobject m_service;
    // Method identifiers of the classes of the current service and of the last
    // channel met; the service changes with every call and the channel is fetched
    // for every command, so both are looked up again on the object actually met.
    jmethodID m_getCardChannelMethodID = nullptr;
    jmethodID m_sendCommandAPDUMethodID = nullptr;
    // Looked up to check that the service offers them; never called.
    jmethodID m_allocateCardChannelMethodID = nullptr;
    jmethodID m_releaseCardChannelMethodID = nullptr;
};

}  // namespace APDUSupport
}  // namespace KOVA

#endif
