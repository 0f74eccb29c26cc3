#ifndef KEYSHELF_EXCEPTIONSPROCESSOR_H
#define KEYSHELF_EXCEPTIONSPROCESSOR_H

#include <jni.h>

#include <string>

#include "libapdu.h"

namespace KOVA {
namespace APDUSupport {

// Turns a failure into the pending Java exception the caller sees.
class CAPDUExceptionsProcessor {
public:
    static void ProcessCException(JNIEnv* env, libapdu::IException& e);
    static void ProcessUnknownException(JNIEnv* env);

    // The Java class (JNI name) and message that a card-library error of this code becomes.
    static const char* Describe(unsigned short code, std::string& message);
    // The Java class that every other failure becomes ("Unknown error").
    static const char* UnknownErrorClass();
};

}  // namespace APDUSupport
}  // namespace KOVA

#endif
