// JNI helpers shared by the transports of both deliverables.
#ifndef KEYSHELF_JNIFRAME_H
#define KEYSHELF_JNIFRAME_H

#include <jni.h>

namespace KOVA {
namespace APDUSupport {

// Holds a JNI local frame for one transport call (a send, an ATR read), so a long
// operation, such as a large file written in many pieces, does not grow the local
// reference table of the native call.
class CLocalFrame {
public:
    CLocalFrame(JNIEnv* env, jint capacity) : m_env(env), m_ok(env->PushLocalFrame(capacity) == 0) {}
    ~CLocalFrame() {
        if (m_ok) m_env->PopLocalFrame(nullptr);
    }
    CLocalFrame(const CLocalFrame&) = delete;
    CLocalFrame& operator=(const CLocalFrame&) = delete;
    bool ok() const { return m_ok; }

private:
    JNIEnv* m_env;
    bool m_ok;
};

// True when a Java exception is pending; it is cleared, so that no further JNI call
// runs with it and the failure can be reported as the library's own.
inline bool ClearedFailure(JNIEnv* env) {
    if (!env->ExceptionCheck()) return false;
    env->ExceptionClear();
    return true;
}

}  // namespace APDUSupport
}  // namespace KOVA

#endif
