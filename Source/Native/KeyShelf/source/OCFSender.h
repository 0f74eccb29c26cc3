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
    // Raises 6B00 when the service offers no channel, lacks one of the four methods, or
    // its channel's sendCommandAPDU takes a CommandAPDU other than the one the calling
    // class sees (a copy of the framework in another class loader).
    OCFSender(JNIEnv* env, jobject service);
    ~OCFSender() override;
    // Owns global references: a copy would release them twice.
    OCFSender(const OCFSender&) = delete;
    OCFSender& operator=(const OCFSender&) = delete;

    // The bytes go to the channel exactly as given; a failure of any step raises 6B00,
    // an answer that is not the calling class's ResponseAPDU included. The Java array
    // it builds for the command is zeroed before it returns; the answer, the channel's,
    // is only read (its bytes copied into the response), never written.
    void send(const libapdu::TBytes& command, libapdu::TBytes& response) override;
    // The ATR of the service's card, or nothing when it cannot be had.
    libapdu::TBytes atr() override;
    void control(unsigned int code, const libapdu::TBytes& in, libapdu::TBytes& out) override;
    virtual void select_applet(unsigned short id);

    // Stores both, then raises 6B00 when either is null.
    void UpdateJavaParameters(JNIEnv* env, jobject service);

    unsigned short appletId() const { return m_appletId; }

private:
    // The identifier of one method on the last class met (held weakly), looked up
    // again only when an object of another class comes.
    class CachedMethod {
    public:
        // Null when the class has no such method, or its one parameter is not `parameter` (when given).
        jmethodID Of(JNIEnv* env, jclass cls, const char* name, const char* signature, jclass parameter);
        void Release(JNIEnv* env);

    private:
        jweak m_class = nullptr;
        jmethodID m_id = nullptr;
    };

    jmethodID ServiceMethod(JNIEnv* env, jobject service);
    jmethodID ChannelMethod(JNIEnv* env, jobject channel);
    void Release(JNIEnv* env);
    [[noreturn]] void Refuse(JNIEnv* env, unsigned long line);

    unsigned short m_appletId = 0;
    JNIEnv* m_env;
    jobject m_service;
    JavaVM* m_vm = nullptr;
    // The service changes with every call and the channel is fetched for every
    // command: each is called through an identifier of its own class.
    CachedMethod m_getCardChannel;
    CachedMethod m_sendCommandAPDU;
    // Found once per transport through the loader of the calling class.
    jclass m_commandClass = nullptr;   // global reference
    jclass m_responseClass = nullptr;  // global reference
    jmethodID m_commandInit = nullptr;
    jmethodID m_getBuffer = nullptr;
};

}  // namespace APDUSupport
}  // namespace KOVA

#endif
