#include "ExceptionsProcessor.h"

#include <cstdio>

#include KEYSHELF_BINDING

namespace KOVA {
namespace APDUSupport {

namespace {
const char kUnknownError[] = "Unknown error";

// Throws a new exception of the class; false when the class could not be had, or
// cannot be thrown with a message (its own failure is then cleared, so the caller
// may throw another). The class the caller's class path offers under the name may
// be no Throwable, or lack the (String) constructor: ThrowNew would then leave a
// NoSuchMethodError in place of the failure, or abort the JVM.
bool Throw(JNIEnv* env, const char* className, const char* message) {
    jclass cls = env->FindClass(className);
    if (!cls) {
        env->ExceptionClear();
        return false;
    }
    jclass throwable = env->FindClass("java/lang/Throwable");
    const bool usable = throwable && env->IsAssignableFrom(cls, throwable) &&
                        env->GetMethodID(cls, "<init>", "(Ljava/lang/String;)V") != nullptr;
    env->ExceptionClear();  // NoSuchMethodError of a class without the constructor
    if (throwable) env->DeleteLocalRef(throwable);
    if (usable) env->ThrowNew(cls, message);
    env->DeleteLocalRef(cls);
    return usable;
}
}  // namespace

const char* CAPDUExceptionsProcessor::Describe(unsigned short code, std::string& message) {
    switch (code) {
        case 0x6300: message = "Wrong pin"; return "java/security/UnrecoverableKeyException";
        case 0x6301: message = "Pin missing"; return "java/security/UnrecoverableKeyException";
        case 0x6302: message = "New pin missing"; return "java/security/UnrecoverableKeyException";
        case 0x6983: message = "Pin blocked"; return "java/security/UnrecoverableKeyException";
        case 0x6400:
        case 0x6A84: message = "Not enough storage space"; return "java/io/FileNotFoundException";
        case 0x6A82: message = "File not found"; return "java/io/FileNotFoundException";
        default: {
            char text[300];
            std::snprintf(text, sizeof text, "Smart card error with code 0x%x", static_cast<unsigned int>(code));
            message = text;
            return "java/io/IOException";
        }
    }
}

const char* CAPDUExceptionsProcessor::UnknownErrorClass() { return Binding::kUnknownErrorClass; }

void CAPDUExceptionsProcessor::ProcessCException(JNIEnv* env, libapdu::IException& e) {
    // A Java failure already pending is the one the caller sees; no JNI call is made with it.
    if (env->ExceptionCheck()) return;
    std::string message;
    const char* cls = Describe(e.code(), message);
    if (!Throw(env, cls, message.c_str())) Throw(env, "java/io/IOException", message.c_str());
}

void CAPDUExceptionsProcessor::ProcessUnknownException(JNIEnv* env) {
    if (env->ExceptionCheck()) return;
    // The deliverable's class may be missing from the caller's class path: the failure
    // is then reported as the plain I/O error, never with a null class.
    if (!Throw(env, UnknownErrorClass(), kUnknownError)) Throw(env, "java/io/IOException", kUnknownError);
}

}  // namespace APDUSupport
}  // namespace KOVA
