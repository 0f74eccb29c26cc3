#include "OCFSender.h"

#include "JniFrame.h"
#include "libapdu.internal.h"

namespace KOVA {
namespace APDUSupport {

using libapdu::TBytes;

namespace {
// The transport and the token module of this deliverable report under one source name.
const wchar_t kSource[] = L"Source/Native/KeyShelf/source/APDUTokenModule";

const char kGetCardChannel[] = "getCardChannel";
const char kGetCardChannelSig[] = "()Lopencard/core/service/CardChannel;";
const char kSendCommandAPDU[] = "sendCommandAPDU";
const char kSendCommandAPDUSig[] = "(Lopencard/core/terminal/CommandAPDU;)Lopencard/core/terminal/ResponseAPDU;";

// Any JNI failure is cleared first: the raise unwinds through JNI calls (the local
// frame's pop, the exception processor's FindClass and ThrowNew) that must not run
// with it pending.
[[noreturn]] void Fail(JNIEnv* env, unsigned long line) {
    if (env) ClearedFailure(env);
    libapdu::ExternalRaise(0x6B00, kSource, line);
}

// A method of the object's own class; null (with nothing pending) when it has none.
jmethodID MethodOf(JNIEnv* env, jobject object, const char* name, const char* signature) {
    jclass cls = env->GetObjectClass(object);
    if (!cls) return nullptr;
    jmethodID id = env->GetMethodID(cls, name, signature);
    ClearedFailure(env);  // NoSuchMethodError
    env->DeleteLocalRef(cls);
    return id;
}

jmethodID MethodOfClass(JNIEnv* env, jclass cls, const char* name, const char* signature) {
    jmethodID id = env->GetMethodID(cls, name, signature);
    return ClearedFailure(env) ? nullptr : id;
}

// Copies a Java byte array; false (the output untouched) when it cannot be read.
bool CopyBytes(JNIEnv* env, jbyteArray array, jsize n, TBytes& out) {
    if (n < 0) return false;
    TBytes bytes(static_cast<size_t>(n));
    if (n > 0) env->GetByteArrayRegion(array, 0, n, reinterpret_cast<jbyte*>(bytes.data()));
    if (ClearedFailure(env)) return false;
    out.swap(bytes);
    return true;
}

bool CopyBytes(JNIEnv* env, jbyteArray array, TBytes& out) {
    const jsize n = env->GetArrayLength(array);
    return !ClearedFailure(env) && CopyBytes(env, array, n, out);
}

// True when the method takes exactly this class as its one parameter. The channel may
// come from a class loader with a copy of the framework of its own: a name and a
// signature match there too, but an object of our CommandAPDU passed to its method
// would be taken for one of its own class.
bool TakesClass(JNIEnv* env, jclass owner, jmethodID method, jclass parameter) {
    CLocalFrame frame(env, 8);
    if (!frame.ok()) {
        ClearedFailure(env);
        return false;
    }
    jobject reflected = env->ToReflectedMethod(owner, method, JNI_FALSE);
    if (ClearedFailure(env) || !reflected) return false;
    jclass methodClass = env->FindClass("java/lang/reflect/Method");
    if (ClearedFailure(env) || !methodClass) return false;
    jmethodID getParameterTypes = env->GetMethodID(methodClass, "getParameterTypes", "()[Ljava/lang/Class;");
    if (ClearedFailure(env) || !getParameterTypes) return false;
    auto types = static_cast<jobjectArray>(env->CallObjectMethod(reflected, getParameterTypes));
    if (ClearedFailure(env) || !types) return false;
    const jsize count = env->GetArrayLength(types);
    if (ClearedFailure(env) || count != 1) return false;
    jobject type = env->GetObjectArrayElement(types, 0);
    if (ClearedFailure(env) || !type) return false;
    return env->IsSameObject(type, parameter);
}
}  // namespace

jmethodID OCFSender::CachedMethod::Of(JNIEnv* env, jclass cls, const char* name, const char* signature,
                                      jclass parameter) {
    if (m_class && env->IsSameObject(m_class, cls)) return m_id;
    jmethodID id = MethodOfClass(env, cls, name, signature);
    if (!id || (parameter && !TakesClass(env, cls, id, parameter))) return nullptr;
    // Weak: the class, and the loader of a plug-in behind it, stay free to go; an
    // identifier is used only while its class is the very one met again, so alive.
    jweak weak = env->NewWeakGlobalRef(cls);
    if (ClearedFailure(env) || !weak) return id;  // good for this call, not remembered
    Release(env);
    m_class = weak;
    m_id = id;
    return id;
}

void OCFSender::CachedMethod::Release(JNIEnv* env) {
    if (m_class) env->DeleteWeakGlobalRef(m_class);
    m_class = nullptr;
    m_id = nullptr;
}

jmethodID OCFSender::ServiceMethod(JNIEnv* env, jobject service) {
    jclass cls = env->GetObjectClass(service);
    if (ClearedFailure(env) || !cls) return nullptr;
    return m_getCardChannel.Of(env, cls, kGetCardChannel, kGetCardChannelSig, nullptr);
}

jmethodID OCFSender::ChannelMethod(JNIEnv* env, jobject channel) {
    jclass cls = env->GetObjectClass(channel);
    if (ClearedFailure(env) || !cls) return nullptr;
    return m_sendCommandAPDU.Of(env, cls, kSendCommandAPDU, kSendCommandAPDUSig, m_commandClass);
}

OCFSender::OCFSender(JNIEnv* env, jobject service) : m_env(env), m_service(service) {
    if (!env || !service) Fail(env, __LINE__);
    if (env->ExceptionCheck()) libapdu::ExternalRaise(0x6B00, kSource, __LINE__);  // the caller's, left alone
    CLocalFrame frame(env, 16);
    if (!frame.ok()) Fail(env, __LINE__);
    // The destructor reaches the JVM through it, on whichever thread the token goes.
    if (env->GetJavaVM(&m_vm) != JNI_OK || !m_vm) {
        m_vm = nullptr;
        Fail(env, __LINE__);
    }

    // The framework as the loader of the calling class sees it, found once per transport.
    m_commandClass = GlobalClass(env, "opencard/core/terminal/CommandAPDU");
    m_responseClass = GlobalClass(env, "opencard/core/terminal/ResponseAPDU");
    if (!m_commandClass || !m_responseClass) Refuse(env, __LINE__);
    m_commandInit = MethodOfClass(env, m_commandClass, "<init>", "([B)V");
    m_getBuffer = MethodOfClass(env, m_responseClass, "getBuffer", "()[B");
    if (!m_commandInit || !m_getBuffer) Refuse(env, __LINE__);

    jmethodID getCardChannel = ServiceMethod(env, service);
    if (!getCardChannel) Refuse(env, __LINE__);
    jobject channel = env->CallObjectMethod(service, getCardChannel);
    if (ClearedFailure(env) || !channel) Refuse(env, __LINE__);
    if (!ChannelMethod(env, channel)) Refuse(env, __LINE__);
    if (!MethodOf(env, service, "allocateCardChannel", "()V")) Refuse(env, __LINE__);
    if (!MethodOf(env, service, "releaseCardChannel", "()V")) Refuse(env, __LINE__);
}

OCFSender::~OCFSender() {
    // The token may go on any Java thread; use that thread's environment.
    JNIEnv* env = nullptr;
    if (m_vm && m_vm->GetEnv(reinterpret_cast<void**>(&env), JNI_VERSION_1_6) == JNI_OK && env) Release(env);
}

void OCFSender::Release(JNIEnv* env) {
    m_getCardChannel.Release(env);
    m_sendCommandAPDU.Release(env);
    if (m_commandClass) env->DeleteGlobalRef(m_commandClass);
    if (m_responseClass) env->DeleteGlobalRef(m_responseClass);
    m_commandClass = m_responseClass = nullptr;
}

[[noreturn]] void OCFSender::Refuse(JNIEnv* env, unsigned long line) {
    // The constructor does not finish: the destructor never runs for what it took.
    ClearedFailure(env);
    Release(env);
    Fail(env, line);
}

void OCFSender::UpdateJavaParameters(JNIEnv* env, jobject service) {
    m_env = env;
    m_service = service;
    if (!env || !service) Fail(env, __LINE__);
}

void OCFSender::select_applet(unsigned short id) { m_appletId = id; }

void OCFSender::control(unsigned int, const TBytes&, TBytes&) {}

void OCFSender::send(const TBytes& command, TBytes& response) {
    JNIEnv* env = m_env;
    if (!env || !m_service) Fail(env, __LINE__);
    // A Java exception the caller left pending is the caller's to report.
    if (env->ExceptionCheck()) libapdu::ExternalRaise(0x6B00, kSource, __LINE__);
    CLocalFrame frame(env, 16);
    if (!frame.ok()) Fail(env, __LINE__);

    const jsize length = static_cast<jsize>(command.size());
    jbyteArray array = env->NewByteArray(length);
    if (ClearedFailure(env) || !array) Fail(env, __LINE__);
    // The framework's CommandAPDU keeps this very array: zeroed once the card has
    // answered, whichever way the call ends.
    CZeroedArray zeroCommand(env, array, length);
    if (length > 0) env->SetByteArrayRegion(array, 0, length, reinterpret_cast<const jbyte*>(command.data()));
    if (ClearedFailure(env)) Fail(env, __LINE__);
    jobject capdu = env->NewObject(m_commandClass, m_commandInit, array);
    if (ClearedFailure(env) || !capdu) Fail(env, __LINE__);

    // The service is the one of this call and the channel is fetched for every
    // command: each is called through an identifier of its own class.
    jmethodID getCardChannel = ServiceMethod(env, m_service);
    if (!getCardChannel) Fail(env, __LINE__);
    jobject channel = env->CallObjectMethod(m_service, getCardChannel);
    if (ClearedFailure(env) || !channel) Fail(env, __LINE__);
    jmethodID sendCommandAPDU = ChannelMethod(env, channel);
    if (!sendCommandAPDU) Fail(env, __LINE__);
    jobject rapdu = env->CallObjectMethod(channel, sendCommandAPDU, capdu);
    if (ClearedFailure(env) || !rapdu) Fail(env, __LINE__);
    // Only an answer of the class the identifier belongs to is read through it.
    if (!env->IsInstanceOf(rapdu, m_responseClass)) Fail(env, __LINE__);

    jbyteArray answer = static_cast<jbyteArray>(env->CallObjectMethod(rapdu, m_getBuffer));
    if (ClearedFailure(env) || !answer) Fail(env, __LINE__);
    const jsize n = env->GetArrayLength(answer);
    if (ClearedFailure(env)) Fail(env, __LINE__);
    // The response's own buffer, status bytes included. The answer is the channel's,
    // which may keep it or hand the same one out again: it is copied into native memory
    // as it comes and never written. A vector left as it was when it cannot be read.
    if (!CopyBytes(env, answer, n, response)) Fail(env, __LINE__);
}

TBytes OCFSender::atr() {
    TBytes result;
    JNIEnv* env = m_env;
    if (!env || !m_service || env->ExceptionCheck()) return result;
    CLocalFrame frame(env, 8);
    if (!frame.ok()) {
        ClearedFailure(env);
        return result;
    }
    jmethodID getCard = MethodOf(env, m_service, "getCard", "()Lopencard/core/service/SmartCard;");
    if (!getCard) return result;
    jobject card = env->CallObjectMethod(m_service, getCard);
    if (ClearedFailure(env) || !card) return result;
    jmethodID getCardID = MethodOf(env, card, "getCardID", "()Lopencard/core/terminal/CardID;");
    if (!getCardID) return result;
    jobject cardId = env->CallObjectMethod(card, getCardID);
    if (ClearedFailure(env) || !cardId) return result;
    jmethodID getATR = MethodOf(env, cardId, "getATR", "()[B");
    if (!getATR) return result;
    jbyteArray bytes = static_cast<jbyteArray>(env->CallObjectMethod(cardId, getATR));
    if (ClearedFailure(env) || !bytes) return result;
    CopyBytes(env, bytes, result);
    return result;
}

}  // namespace APDUSupport
}  // namespace KOVA
