#include "Z6EZSender.h"

#include <algorithm>

#include "JniFrame.h"
#include "libapdu.internal.h"

namespace KOVA {
namespace APDUSupport {

using libapdu::TBytes;

namespace {
const wchar_t kSource[] = L"Source/Native/KeyShelfJx/source/Z6EZSender";

bool Failed(JNIEnv* env) { return ClearedFailure(env); }

[[noreturn]] void Unusable(JNIEnv* env, unsigned long line) {
    Failed(env);
    libapdu::ExternalRaise(0xFFFF, kSource, line);
}

// A method of a declared javax.smartcardio class. The caller may hand in a card or a
// channel of any class (a wrapper, another provider, another card at every call),
// and an identifier looked up on one runtime class must never be used with an object
// of another; the declared classes belong to the platform and are never unloaded.
jmethodID DeclaredMethod(JNIEnv* env, const char* className, const char* name, const char* signature) {
    jclass cls = env->FindClass(className);
    if (!cls || Failed(env)) return nullptr;
    jmethodID id = env->GetMethodID(cls, name, signature);
    if (Failed(env)) id = nullptr;
    env->DeleteLocalRef(cls);
    return id;
}
}  // namespace

Z6EZSender::Z6EZSender(JNIEnv* env, jobject card) : m_env(env), m_card(card) {
    if (!env || !card) libapdu::ExternalRaise(0xFFFF, kSource, __LINE__);
    CLocalFrame frame(env, 8);
    if (!frame.ok()) Unusable(env, __LINE__);
    // The destructor reaches the JVM through it: never left holding what a failed call wrote.
    if (env->GetJavaVM(&m_vm) != JNI_OK || !m_vm) {
        m_vm = nullptr;
        Unusable(env, __LINE__);
    }

    m_getCardChannelMethodID =
        DeclaredMethod(env, "javax/smartcardio/Card", "getBasicChannel", "()Ljavax/smartcardio/CardChannel;");
    if (!m_getCardChannelMethodID) Unusable(env, __LINE__);
    jobject channel = env->CallObjectMethod(card, m_getCardChannelMethodID);
    if (Failed(env) || !channel) Unusable(env, __LINE__);
    m_sendAPDUMethodID = DeclaredMethod(env, "javax/smartcardio/CardChannel", "transmit",
                                        "(Ljavax/smartcardio/CommandAPDU;)Ljavax/smartcardio/ResponseAPDU;");
    if (!m_sendAPDUMethodID) Unusable(env, __LINE__);
    m_getATR = DeclaredMethod(env, "javax/smartcardio/Card", "getATR", "()Ljavax/smartcardio/ATR;");
    m_getBytes = DeclaredMethod(env, "javax/smartcardio/ATR", "getBytes", "()[B");
    if (!m_getATR || !m_getBytes) Unusable(env, __LINE__);

    m_commandClass = GlobalClass(env, "javax/smartcardio/CommandAPDU");
    m_responseClass = GlobalClass(env, "javax/smartcardio/ResponseAPDU");
    if (!m_commandClass || !m_responseClass) {
        if (m_commandClass) env->DeleteGlobalRef(m_commandClass);
        if (m_responseClass) env->DeleteGlobalRef(m_responseClass);
        Unusable(env, __LINE__);
    }
    m_commandInit = env->GetMethodID(m_commandClass, "<init>", "([B)V");
    if (!Failed(env)) m_getData = env->GetMethodID(m_responseClass, "getData", "()[B");
    if (!Failed(env)) m_getSW1 = env->GetMethodID(m_responseClass, "getSW1", "()I");
    if (!Failed(env)) m_getSW2 = env->GetMethodID(m_responseClass, "getSW2", "()I");
    if (Failed(env) || !m_commandInit || !m_getData || !m_getSW1 || !m_getSW2) {
        env->DeleteGlobalRef(m_commandClass);
        env->DeleteGlobalRef(m_responseClass);
        Unusable(env, __LINE__);
    }
}

Z6EZSender::~Z6EZSender() {
    // The token may go on any Java thread; use that thread's environment.
    JNIEnv* env = nullptr;
    if (m_vm && m_vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) == JNI_OK && env) {
        env->DeleteGlobalRef(m_commandClass);
        env->DeleteGlobalRef(m_responseClass);
    }
}

void Z6EZSender::UpdateJavaParameters(JNIEnv* env, jobject card) {
    m_env = env;
    m_card = card;
}

void Z6EZSender::select_applet(unsigned short id) { m_appletId = id; }

void Z6EZSender::control(unsigned int, const TBytes&, TBytes&) {}

TBytes Z6EZSender::rewrite(const TBytes& command) {
    // Room for the byte a rewrite may add, in one allocation.
    TBytes c;
    c.reserve(command.size() + 1);
    c.assign(command.begin(), command.end());
    if (c.size() == 6 && c[4] == 0x00) {
        c.erase(c.begin() + 4);
    }
    if (c.size() >= 8 && c[4] == 0x00 && c.size() == 8u + ((static_cast<size_t>(c[5]) << 8) | c[6])) {
        c.push_back(0x00);
    } else if (c.size() >= 8 && c[4] != 0x00 && c.size() == 5u + c[4] + 2u) {
        const unsigned char hi = c[c.size() - 2], lo = c[c.size() - 1];
        c.pop_back();
        c.back() = hi == 0x00 ? lo : 0x00;
    }
    return c;
}

void Z6EZSender::send(const TBytes& command, TBytes& response) {
    JNIEnv* env = m_env;
    // Whatever fails below, the caller must never read an earlier answer as this one's.
    response.clear();
    if (!env || !m_card) return;
    // A Java exception the caller left pending is the caller's to report: clearing it
    // would hide it, and any JNI call made under it is undefined.
    if (env->ExceptionCheck()) return;
    CLocalFrame frame(env, 16);
    if (!frame.ok()) {
        Failed(env);
        return;
    }
    const TBytes c = rewrite(command);

    jbyteArray array = env->NewByteArray(static_cast<jsize>(c.size()));
    if (!array || Failed(env)) return;
    // CommandAPDU works on a copy of its own: this array, the library's, is zeroed
    // once the card has answered, whichever way the call ends.
    CZeroedArray zeroCommand(env, array, static_cast<jsize>(c.size()));
    env->SetByteArrayRegion(array, 0, static_cast<jsize>(c.size()), reinterpret_cast<const jbyte*>(c.data()));
    if (Failed(env)) return;
    jobject capdu = env->NewObject(m_commandClass, m_commandInit, array);
    if (Failed(env) || !capdu) return;

    jobject channel = env->CallObjectMethod(m_card, m_getCardChannelMethodID);
    if (Failed(env) || !channel) return;
    jobject rapdu = env->CallObjectMethod(channel, m_sendAPDUMethodID, capdu);
    if (Failed(env) || !rapdu) return;

    jbyteArray data = static_cast<jbyteArray>(env->CallObjectMethod(rapdu, m_getData));
    if (Failed(env) || !data) return;
    const jsize n = env->GetArrayLength(data);
    if (Failed(env)) return;
    // getData answers a copy made for us: zeroed once its bytes are copied out.
    CZeroedArray zeroData(env, data, n);
    const jint sw1 = env->CallIntMethod(rapdu, m_getSW1);
    if (Failed(env)) return;
    const jint sw2 = env->CallIntMethod(rapdu, m_getSW2);
    if (Failed(env) || sw1 < 0 || sw1 > 255 || sw2 < 0 || sw2 > 255) return;

    // Filled in place: the facets hand over a buffer already large enough for the answer.
    response.resize(static_cast<size_t>(n) + 2);
    if (n > 0) env->GetByteArrayRegion(data, 0, n, reinterpret_cast<jbyte*>(response.data()));
    if (Failed(env)) {
        response.clear();
        return;
    }
    response[static_cast<size_t>(n)] = static_cast<unsigned char>(sw1);
    response[static_cast<size_t>(n) + 1] = static_cast<unsigned char>(sw2);
}

TBytes Z6EZSender::atr() {
    TBytes result;
    JNIEnv* env = m_env;
    if (!env || !m_card || env->ExceptionCheck()) return result;
    CLocalFrame frame(env, 8);
    if (!frame.ok()) {
        Failed(env);
        return result;
    }
    jobject atrObject = env->CallObjectMethod(m_card, m_getATR);
    if (Failed(env) || !atrObject) return result;
    jbyteArray bytes = static_cast<jbyteArray>(env->CallObjectMethod(atrObject, m_getBytes));
    if (Failed(env) || !bytes) return result;
    const jsize n = env->GetArrayLength(bytes);
    if (Failed(env) || n <= 0) return result;
    result.resize(static_cast<size_t>(n));
    env->GetByteArrayRegion(bytes, 0, n, reinterpret_cast<jbyte*>(result.data()));
    if (Failed(env)) result.clear();
    return result;
}

}  // namespace APDUSupport
}  // namespace KOVA
