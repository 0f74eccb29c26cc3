#ifndef KEYSHELF_EXCEPTIONSPROCESSOR_H
#define KEYSHELF_EXCEPTIONSPROCESSOR_H

#include <jni.h>

#include "libapdu.h"

namespace KOVA {
namespace APDUSupport {

// Turns a failure into the pending Java exception the caller sees.
class CAPDUExceptionsProcessor {
public:
    static void ProcessCException(JNIEnv* env, libapdu::IException& e);
    static void ProcessUnknownException(JNIEnv* env);
};

}  // namespace APDUSupport
}  // namespace KOVA

#endif
