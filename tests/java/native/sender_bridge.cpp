// Test-only JNI natives that drive the javax.smartcardio transport from Java
// tests, so the transport runs inside a real JVM (and under -Xcheck:jni) against
// Card objects that the tests script.
//
// A transport lives between calls as a raw handle, exactly as the token module
// keeps it; every call hands it the environment and card of that call first.
#include <jni.h>

#include <cstdio>
#include <memory>

#include "OCFSender.h"
#include "Z6EZSender.h"
#include "libapdu.h"

using KOVA::APDUSupport::OCFSender;
using KOVA::APDUSupport::Z6EZSender;
using libapdu::TBytes;

namespace {

Z6EZSender* FromHandle(jlong handle) { return reinterpret_cast<Z6EZSender*>(static_cast<intptr_t>(handle)); }
OCFSender* OcfFromHandle(jlong handle) { return reinterpret_cast<OCFSender*>(static_cast<intptr_t>(handle)); }

void Throw(JNIEnv* env, const char* className, const char* message) {
    if (env->ExceptionCheck()) return;  // keep the first failure, it is the informative one
    jclass cls = env->FindClass(className);
    if (cls) env->ThrowNew(cls, message);
}

// The transport must never leave a Java exception behind: the entry points go on
// making JNI calls after a send. Surface any leftover to the test as a failure of
// its own, wrapping the leftover as the cause.
bool LeftPending(JNIEnv* env, const char* where) {
    if (!env->ExceptionCheck()) return false;
    jthrowable leftover = env->ExceptionOccurred();
    env->ExceptionClear();
    jclass cls = env->FindClass("java/lang/AssertionError");
    jmethodID ctor = cls ? env->GetMethodID(cls, "<init>", "(Ljava/lang/String;Ljava/lang/Throwable;)V") : nullptr;
    jstring text = ctor ? env->NewStringUTF(where) : nullptr;
    jobject error = text ? env->NewObject(cls, ctor, text, leftover) : nullptr;
    if (error) env->Throw(static_cast<jthrowable>(error));
    return true;
}

bool ToBytes(JNIEnv* env, jbyteArray array, TBytes& out) {
    if (!array) {
        Throw(env, "java/lang/NullPointerException", "command");
        return false;
    }
    const jsize n = env->GetArrayLength(array);
    out.assign(static_cast<size_t>(n), 0);
    if (n > 0) env->GetByteArrayRegion(array, 0, n, reinterpret_cast<jbyte*>(out.data()));
    return !env->ExceptionCheck();
}

jbyteArray ToJava(JNIEnv* env, const TBytes& bytes) {
    jbyteArray array = env->NewByteArray(static_cast<jsize>(bytes.size()));
    if (!array) return nullptr;
    if (!bytes.empty())
        env->SetByteArrayRegion(array, 0, static_cast<jsize>(bytes.size()), reinterpret_cast<const jbyte*>(bytes.data()));
    return env->ExceptionCheck() ? nullptr : array;
}

void ThrowRaised(JNIEnv* env, const libapdu::IException& e) {
    char text[64];
    std::snprintf(text, sizeof text, "transport raised 0x%x", static_cast<unsigned>(e.code()));
    Throw(env, "java/lang/IllegalStateException", text);
}

// A transport of either kind over the Java object, as a raw handle; 0 with a Java
// exception thrown when it is refused.
template <class Sender> jlong Open(JNIEnv* env, jobject object) {
    try {
        auto sender = std::make_unique<Sender>(env, object);
        if (LeftPending(env, "exception left pending by the transport's constructor")) return 0;
        return static_cast<jlong>(reinterpret_cast<intptr_t>(sender.release()));
    } catch (const libapdu::IException& e) {
        if (!LeftPending(env, "exception left pending by a refused construction")) ThrowRaised(env, e);
    } catch (...) {
        Throw(env, "java/lang/IllegalStateException", "transport threw a foreign exception");
    }
    return 0;
}

}  // namespace

extern "C" {

JNIEXPORT jlong JNICALL Java_io_keyshelf_jtest_SenderBridge_open(JNIEnv* env, jclass, jobject card) {
    return Open<Z6EZSender>(env, card);
}

JNIEXPORT void JNICALL Java_io_keyshelf_jtest_SenderBridge_close(JNIEnv*, jclass, jlong handle) {
    delete FromHandle(handle);
}

JNIEXPORT jbyteArray JNICALL Java_io_keyshelf_jtest_SenderBridge_send(JNIEnv* env, jclass, jlong handle, jobject card,
                                                                      jbyteArray command) {
    TBytes c;
    if (!ToBytes(env, command, c)) return nullptr;
    Z6EZSender* sender = FromHandle(handle);
    sender->UpdateJavaParameters(env, card);
    // Stale content must not survive a failed send as if it were the answer.
    TBytes response = {0x90, 0x00, 0x90, 0x00};
    try {
        sender->send(c, response);
    } catch (const libapdu::IException& e) {
        if (!LeftPending(env, "exception left pending by a raising send")) ThrowRaised(env, e);
        return nullptr;
    }
    if (LeftPending(env, "exception left pending by send")) return nullptr;
    return ToJava(env, response);
}

// Many sends inside one native call, the way one file write is split into pieces:
// the local references of each send must not pile up in the caller's frame.
JNIEXPORT jbyteArray JNICALL Java_io_keyshelf_jtest_SenderBridge_sendRepeatedly(JNIEnv* env, jclass, jlong handle,
                                                                                jobject card, jbyteArray command,
                                                                                jint count) {
    TBytes c;
    if (!ToBytes(env, command, c)) return nullptr;
    Z6EZSender* sender = FromHandle(handle);
    sender->UpdateJavaParameters(env, card);
    TBytes response;
    for (jint i = 0; i < count; ++i) {
        response.clear();
        sender->send(c, response);
        if (LeftPending(env, "exception left pending by a repeated send")) return nullptr;
        (void)sender->atr();
        if (LeftPending(env, "exception left pending by a repeated atr")) return nullptr;
    }
    return ToJava(env, response);
}

// Sends, and reads the ATR, while a Java exception of the caller is pending: the
// transport must make no JNI call under it and must leave it for the caller. Only
// JNI calls that are allowed with an exception pending follow the sends here.
JNIEXPORT jint JNICALL Java_io_keyshelf_jtest_SenderBridge_sendUnderPendingException(JNIEnv* env, jclass, jlong handle,
                                                                                     jobject card, jbyteArray command) {
    TBytes c;
    if (!ToBytes(env, command, c)) return -1;
    Z6EZSender* sender = FromHandle(handle);
    sender->UpdateJavaParameters(env, card);
    Throw(env, "java/lang/IllegalStateException", "pending from the caller");
    TBytes response = {0x90, 0x00};
    sender->send(c, response);
    const TBytes atr = sender->atr();
    return static_cast<jint>(response.size() + atr.size());
}

JNIEXPORT jbyteArray JNICALL Java_io_keyshelf_jtest_SenderBridge_atr(JNIEnv* env, jclass, jlong handle, jobject card) {
    Z6EZSender* sender = FromHandle(handle);
    sender->UpdateJavaParameters(env, card);
    const TBytes atr = sender->atr();
    if (LeftPending(env, "exception left pending by atr")) return nullptr;
    return ToJava(env, atr);
}

JNIEXPORT jint JNICALL Java_io_keyshelf_jtest_SenderBridge_appletAfterSelect(JNIEnv*, jclass, jlong handle, jint id) {
    Z6EZSender* sender = FromHandle(handle);
    sender->select_applet(static_cast<unsigned short>(id));
    TBytes out = {0x01};
    sender->control(0x42000C00u, TBytes{0x01, 0x02}, out);
    // control does nothing on this transport: the out buffer stays as it was.
    return out.size() == 1 && out[0] == 0x01 ? sender->appletId() : -1;
}

// ---------------------------------------------------------------- the OpenCard Framework transport

JNIEXPORT jlong JNICALL Java_io_keyshelf_jtest_SenderBridge_openOcf(JNIEnv* env, jclass, jobject service) {
    return Open<OCFSender>(env, service);
}

JNIEXPORT void JNICALL Java_io_keyshelf_jtest_SenderBridge_closeOcf(JNIEnv*, jclass, jlong handle) {
    delete OcfFromHandle(handle);
}

// The answer of one send; the response vector starts with stale bytes, which a failed
// send must leave as they were.
JNIEXPORT jbyteArray JNICALL Java_io_keyshelf_jtest_SenderBridge_sendOcf(JNIEnv* env, jclass, jlong handle,
                                                                         jobject service, jbyteArray command) {
    TBytes c;
    if (!ToBytes(env, command, c)) return nullptr;
    OCFSender* sender = OcfFromHandle(handle);
    TBytes response = {0xEE, 0xEE, 0xEE};
    try {
        sender->UpdateJavaParameters(env, service);
        sender->send(c, response);
    } catch (const libapdu::IException& e) {
        if (!LeftPending(env, "exception left pending by a raising send")) {
            if (response != TBytes{0xEE, 0xEE, 0xEE})
                Throw(env, "java/lang/AssertionError", "a failed send changed the response");
            else
                ThrowRaised(env, e);
        }
        return nullptr;
    }
    if (LeftPending(env, "exception left pending by send")) return nullptr;
    return ToJava(env, response);
}

JNIEXPORT jbyteArray JNICALL Java_io_keyshelf_jtest_SenderBridge_atrOcf(JNIEnv* env, jclass, jlong handle,
                                                                        jobject service) {
    OCFSender* sender = OcfFromHandle(handle);
    TBytes atr;
    try {
        sender->UpdateJavaParameters(env, service);
        atr = sender->atr();
    } catch (const libapdu::IException& e) {
        if (!LeftPending(env, "exception left pending by a refused refresh")) ThrowRaised(env, e);
        return nullptr;
    }
    if (LeftPending(env, "exception left pending by atr")) return nullptr;
    return ToJava(env, atr);
}

JNIEXPORT jint JNICALL Java_io_keyshelf_jtest_SenderBridge_appletAfterSelectOcf(JNIEnv*, jclass, jlong handle,
                                                                                jint id) {
    OCFSender* sender = OcfFromHandle(handle);
    sender->select_applet(static_cast<unsigned short>(id));
    TBytes out = {0x01};
    sender->control(0x42000C00u, TBytes{0x01, 0x02}, out);
    return out.size() == 1 && out[0] == 0x01 ? sender->appletId() : -1;
}

}  // extern "C"
