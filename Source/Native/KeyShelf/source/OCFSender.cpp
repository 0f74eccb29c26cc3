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
bool CopyBytes(JNIEnv* env, jbyteArray array, TBytes& out) {
    const jsize n = env->GetArrayLength(array);
    if (ClearedFailure(env) || n < 0) return false;
    TBytes bytes(static_cast<size_t>(n));
    if (n > 0) env->GetByteArrayRegion(array, 0, n, reinterpret_cast<jbyte*>(bytes.data()));
    if (ClearedFailure(env)) {
        libapdu::SecureWipe(bytes);
        return false;
    }
    // What the vector held before may be a secret of an earlier answer.
    libapdu::SecureWipe(out);
    out.swap(bytes);
    return true;
}
}  // namespace

OCFSender::OCFSender(JNIEnv* env, jobject service) : m_env(env), m_service(service) {
    if (!env || !service) Fail(env, __LINE__);
    if (env->ExceptionCheck()) libapdu::ExternalRaise(0x6B00, kSource, __LINE__);  // the caller's, left alone
    CLocalFrame frame(env, 8);
    if (!frame.ok()) Fail(env, __LINE__);

    m_getCardChannelMethodID = MethodOf(env, service, kGetCardChannel, kGetCardChannelSig);
    if (!m_getCardChannelMethodID) Fail(env, __LINE__);
    jobject channel = env->CallObjectMethod(service, m_getCardChannelMethodID);
    if (ClearedFailure(env) || !channel) Fail(env, __LINE__);
    m_sendCommandAPDUMethodID = MethodOf(env, channel, kSendCommandAPDU, kSendCommandAPDUSig);
    if (!m_sendCommandAPDUMethodID) Fail(env, __LINE__);
    m_allocateCardChannelMethodID = MethodOf(env, service, "allocateCardChannel", "()V");
    if (!m_allocateCardChannelMethodID) Fail(env, __LINE__);
    m_releaseCardChannelMethodID = MethodOf(env, service, "releaseCardChannel", "()V");
    if (!m_releaseCardChannelMethodID) Fail(env, __LINE__);
}

// Holds no Java reference: nothing to release.
OCFSender::~OCFSender() = default;

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
    if (length > 0) env->SetByteArrayRegion(array, 0, length, reinterpret_cast<const jbyte*>(command.data()));
    if (ClearedFailure(env)) Fail(env, __LINE__);

    jclass commandClass = env->FindClass("opencard/core/terminal/CommandAPDU");
    if (ClearedFailure(env) || !commandClass) Fail(env, __LINE__);
    jmethodID init = MethodOfClass(env, commandClass, "<init>", "([B)V");
    if (!init) Fail(env, __LINE__);
    jobject capdu = env->NewObject(commandClass, init, array);
    if (ClearedFailure(env) || !capdu) Fail(env, __LINE__);

    // The service is the one of this call and the channel is fetched for every
    // command: each is called through an identifier of its own class.
    m_getCardChannelMethodID = MethodOf(env, m_service, kGetCardChannel, kGetCardChannelSig);
    if (!m_getCardChannelMethodID) Fail(env, __LINE__);
    jobject channel = env->CallObjectMethod(m_service, m_getCardChannelMethodID);
    if (ClearedFailure(env) || !channel) Fail(env, __LINE__);
    m_sendCommandAPDUMethodID = MethodOf(env, channel, kSendCommandAPDU, kSendCommandAPDUSig);
    if (!m_sendCommandAPDUMethodID) Fail(env, __LINE__);
    jobject rapdu = env->CallObjectMethod(channel, m_sendCommandAPDUMethodID, capdu);
    if (ClearedFailure(env) || !rapdu) Fail(env, __LINE__);

    jclass responseClass = env->FindClass("opencard/core/terminal/ResponseAPDU");
    if (ClearedFailure(env) || !responseClass) Fail(env, __LINE__);
    jmethodID getBuffer = MethodOfClass(env, responseClass, "getBuffer", "()[B");
    if (!getBuffer) Fail(env, __LINE__);
    jbyteArray answer = static_cast<jbyteArray>(env->CallObjectMethod(rapdu, getBuffer));
    if (ClearedFailure(env) || !answer) Fail(env, __LINE__);
    // The answer as it comes, status bytes included; a vector left as it was otherwise.
    if (!CopyBytes(env, answer, response)) Fail(env, __LINE__);
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
