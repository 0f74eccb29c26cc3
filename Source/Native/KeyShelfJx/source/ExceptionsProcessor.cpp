#include "ExceptionsProcessor.h"

#include <cstdio>

namespace KOVA {
namespace APDUSupport {

namespace {
void Throw(JNIEnv* env, const char* className, const char* message) {
    // A Java failure already pending is the one the caller sees; no JNI call is made with it.
    if (env->ExceptionCheck()) return;
    jclass cls = env->FindClass(className);
    if (!cls) return;  // FindClass left its own exception pending
    env->ThrowNew(cls, message);
    env->DeleteLocalRef(cls);
}
}  // namespace

void CAPDUExceptionsProcessor::ProcessCException(JNIEnv* env, libapdu::IException& e) {
    const unsigned short code = e.code();
    switch (code) {
        case 0x6300: Throw(env, "java/security/UnrecoverableKeyException", "Wrong pin"); return;
        case 0x6301: Throw(env, "java/security/UnrecoverableKeyException", "Pin missing"); return;
        case 0x6302: Throw(env, "java/security/UnrecoverableKeyException", "New pin missing"); return;
        case 0x6983: Throw(env, "java/security/UnrecoverableKeyException", "Pin blocked"); return;
        case 0x6400:
        case 0x6A84: Throw(env, "java/io/FileNotFoundException", "Not enough storage space"); return;
        case 0x6A82: Throw(env, "java/io/FileNotFoundException", "File not found"); return;
        default: {
            char message[300];
            std::snprintf(message, sizeof message, "Smart card error with code 0x%x", static_cast<unsigned int>(code));
            Throw(env, "java/io/IOException", message);
        }
    }
}

void CAPDUExceptionsProcessor::ProcessUnknownException(JNIEnv* env) { Throw(env, "java/io/IOException", "Unknown error"); }

}  // namespace APDUSupport
}  // namespace KOVA
