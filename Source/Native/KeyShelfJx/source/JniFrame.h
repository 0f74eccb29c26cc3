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

// A global reference to the class the loader of the calling class finds under the
// name; null (with nothing pending) when it cannot be had.
inline jclass GlobalClass(JNIEnv* env, const char* name) {
    jclass local = env->FindClass(name);
    if (ClearedFailure(env) || !local) return nullptr;
    jclass global = static_cast<jclass>(env->NewGlobalRef(local));
    env->DeleteLocalRef(local);
    return global;
}

// Zeroes, when it goes, a Java byte array the transport built for a command or took
// as its own copy of an answer: a PIN or the bytes of a read-protected file would
// otherwise wait in it for the garbage collector. Declared after the call's
// CLocalFrame, so that it runs before the frame drops the reference. A Java exception
// pending at that point is set aside while the zeros are written, and pending again
// afterwards.
class CZeroedArray {
public:
    CZeroedArray(JNIEnv* env, jbyteArray array, jsize length) : m_env(env), m_array(array), m_length(length) {}
    ~CZeroedArray() {
        if (!m_array || m_length <= 0) return;
        jthrowable pending = m_env->ExceptionOccurred();
        if (pending) m_env->ExceptionClear();
        static const jbyte kZeros[256] = {};
        for (jsize at = 0; at < m_length && !m_env->ExceptionCheck();) {
            const jsize n = m_length - at < 256 ? m_length - at : 256;
            m_env->SetByteArrayRegion(m_array, at, n, kZeros);
            at += n;
        }
        ClearedFailure(m_env);  // none within the array's own length
        if (pending) {
            m_env->Throw(pending);
            m_env->DeleteLocalRef(pending);
        }
    }
    CZeroedArray(const CZeroedArray&) = delete;
    CZeroedArray& operator=(const CZeroedArray&) = delete;

private:
    JNIEnv* m_env;
    jbyteArray m_array;
    jsize m_length;
};

}  // namespace APDUSupport
}  // namespace KOVA

#endif
