// The thirteen native methods of the deliverable's Java class (KEYSHELF_NATIVE).
#include <jni.h>

#include <utf8.h>

#include "APDUTokenModule.h"
#include "ExceptionsProcessor.h"
#include "libapdu.internal.h"

#include KEYSHELF_BINDING

using namespace KOVA::APDUSupport;
using libapdu::TBytes;

namespace {
const wchar_t* const kSource = Binding::kEntrySource;

// Thrown when a JNI call failed and left its own Java exception pending: the
// caller sees that one, and no further JNI call is made.
struct CJavaPending {};

void CheckJava(JNIEnv* env) {
    if (env->ExceptionCheck()) throw CJavaPending();
}

// A PIN held only as long as it is needed, and wiped when released.
struct CSecretText {
    std::wstring text;
    ~CSecretText() {
        if (!text.empty()) libapdu::SecureWipe(&text[0], text.size() * sizeof(wchar_t));
    }
};

void PinArgument(JNIEnv* env, jcharArray pin, unsigned short missing, CSecretText& out) {
    if (!pin) libapdu::ExternalRaise(missing, kSource, __LINE__);
    const jsize n = env->GetArrayLength(pin);
    CheckJava(env);
    if (n == 0) libapdu::ExternalRaise(missing, kSource, __LINE__);
    // No card command carries a PIN this long; refused before a copy of four bytes a
    // character (and the encoded copies after it) is made of it.
    if (n > 0xFFFF) libapdu::ExternalRaise(0x6B00, kSource, __LINE__);
    // Copied out with GetCharArrayRegion (no JVM copy of the elements is made) into a
    // buffer that wipes its block, then widened in place into the wiped text.
    out.text.resize(static_cast<size_t>(n));
    std::vector<jchar, libapdu::CWipingAllocator<jchar>> units(static_cast<size_t>(n));
    env->GetCharArrayRegion(pin, 0, n, units.data());
    CheckJava(env);
    for (size_t i = 0; i < units.size(); ++i) out.text[i] = static_cast<wchar_t>(units[i]);
}

// The modified UTF-8 form of a Java string, held for one scope and released on every path.
class CUtfChars {
public:
    CUtfChars(JNIEnv* env, jstring s) : m_env(env), m_string(s), m_chars(env->GetStringUTFChars(s, nullptr)) {}
    ~CUtfChars() {
        if (m_chars) m_env->ReleaseStringUTFChars(m_string, m_chars);
    }
    CUtfChars(const CUtfChars&) = delete;
    CUtfChars& operator=(const CUtfChars&) = delete;
    const char* get() const { return m_chars; }

private:
    JNIEnv* m_env;
    jstring m_string;
    const char* m_chars;
};

std::string NameArgument(JNIEnv* env, jstring name) {
    if (!name) throw std::invalid_argument("null directory name");
    const jsize n = env->GetStringLength(name);
    CheckJava(env);
    CUtfChars chars(env, name);
    if (!chars.get()) {
        CheckJava(env);
        throw std::bad_alloc();
    }
    // As many bytes of the modified UTF-8 form as the string has characters (never more
    // than the form holds), each byte taken as one character.
    std::string out;
    for (jsize i = 0; i < n && chars.get()[i] != '\0'; ++i)
        utf8::append(static_cast<unsigned char>(chars.get()[i]), std::back_inserter(out));
    return out;
}

// Copies the bytes into `out`.
void BytesArgument(JNIEnv* env, jbyteArray data, TBytes& out) {
    if (!data) throw std::invalid_argument("null data");
    const jsize n = env->GetArrayLength(data);
    CheckJava(env);
    // Refused before any card traffic: no card file holds more.
    if (n > 0xFFFF) libapdu::ExternalRaise(0x6B00, kSource, __LINE__);
    out.resize(static_cast<size_t>(n));
    if (n > 0) env->GetByteArrayRegion(data, 0, n, reinterpret_cast<jbyte*>(out.data()));
    CheckJava(env);
}

jstring TextResult(JNIEnv* env, const std::wstring& text) {
    std::u16string units;
    units.reserve(text.size());
    for (wchar_t c : text) units.push_back(static_cast<char16_t>(static_cast<unsigned int>(c) & 0xFFFF));
    std::string utf8;
    utf8::utf16to8(units.begin(), units.end(), std::back_inserter(utf8));
    jstring s = env->NewStringUTF(utf8.c_str());
    CheckJava(env);
    return s;
}

// The frame of every method: a call from inside another on this thread is refused
// first, and any failure becomes the Java exception its code selects.
template <class R, class F> R Guarded(JNIEnv* env, R onFailure, F&& body) {
    try {
        CAPDUTokenModule::CEntry entry;
        return body();
    } catch (CJavaPending&) {
    } catch (libapdu::IException& e) {
        CAPDUExceptionsProcessor::ProcessCException(env, e);
    } catch (...) {
        CAPDUExceptionsProcessor::ProcessUnknownException(env);
    }
    return onFailure;
}

using CCall = CAPDUTokenModule::CCall;
}  // namespace

#define KEYSHELF_JNI(ret, name) extern "C" JNIEXPORT ret JNICALL KEYSHELF_NATIVE(name)

KEYSHELF_JNI(jlong, createToken)(JNIEnv* env, jobject, jobject card) {
    if (!card) {
        CAPDUExceptionsProcessor::ProcessUnknownException(env);
        return 0;
    }
    return Guarded(env, jlong(0), [&] {
        CAPDUTokenModule::CInstanceRef module;
        return static_cast<jlong>(module->CreateToken(env, card));
    });
}

KEYSHELF_JNI(void, destroyToken)(JNIEnv* env, jobject, jobject card, jlong handle) {
    Guarded(env, 0, [&] {
        CCall call(env, card, handle);
        call.module->DestroyToken(handle);
        call.module.ReleaseIfUnused();
        return 0;
    });
}

KEYSHELF_JNI(void, Login)(JNIEnv* env, jobject, jobject card, jlong handle, jcharArray pin) {
    Guarded(env, 0, [&] {
        CSecretText text;
        PinArgument(env, pin, 0x6301, text);
        CCall call(env, card, handle);
        call.module->LoginTo(handle, text.text);
        return 0;
    });
}

KEYSHELF_JNI(void, Logout)(JNIEnv* env, jobject, jobject card, jlong handle) {
    Guarded(env, 0, [&] {
        CCall call(env, card, handle);
        call.module->LogoutFrom(handle);
        return 0;
    });
}

KEYSHELF_JNI(jstring, getTokenSerial)(JNIEnv* env, jobject, jobject card, jlong handle) {
    return Guarded(env, jstring(nullptr), [&] {
        std::wstring serial;
        {
            CCall call(env, card, handle);
            serial = call.module->GetSmartcardID(handle);
        }
        return TextResult(env, serial);
    });
}

KEYSHELF_JNI(jstring, getDirList)(JNIEnv* env, jobject, jobject card, jlong handle) {
    return Guarded(env, jstring(nullptr), [&] {
        std::wstring list;
        {
            CCall call(env, card, handle);
            list = call.module->GetDirList(handle);
        }
        return TextResult(env, list);
    });
}

KEYSHELF_JNI(void, openDir)(JNIEnv* env, jobject, jobject card, jlong handle, jstring name, jboolean create) {
    Guarded(env, 0, [&] {
        const std::string dir = NameArgument(env, name);
        CCall call(env, card, handle);
        call.module->OpenDir(handle, dir, create ? 1 : 0);
        return 0;
    });
}

KEYSHELF_JNI(void, closeDir)(JNIEnv* env, jobject, jobject card, jlong handle, jboolean remove) {
    Guarded(env, 0, [&] {
        CCall call(env, card, handle);
        call.module->CloseDir(handle, remove ? 1 : 0);
        return 0;
    });
}

KEYSHELF_JNI(void, deleteFile)(JNIEnv* env, jobject, jobject card, jlong handle, jint fileId) {
    Guarded(env, 0, [&] {
        CCall call(env, card, handle);
        call.module->DeleteFile(handle, fileId);
        return 0;
    });
}

KEYSHELF_JNI(void, storeFile)(JNIEnv* env, jobject, jobject card, jlong handle, jint fileId, jbyteArray data,
                              jboolean flag) {
    Guarded(env, 0, [&] {
        TBytes bytes;
        BytesArgument(env, data, bytes);
        CCall call(env, card, handle);
        call.module->StoreFile(handle, fileId, bytes, flag ? 1 : 0);
        return 0;
    });
}

KEYSHELF_JNI(jint, getFileSize)(JNIEnv* env, jobject, jobject card, jlong handle, jint fileId) {
    return Guarded(env, jint(0), [&] {
        CCall call(env, card, handle);
        return static_cast<jint>(call.module->GetFileSize(handle, fileId));
    });
}

KEYSHELF_JNI(void, readFile)(JNIEnv* env, jobject, jobject card, jlong handle, jint fileId, jint length,
                             jbyteArray out) {
    Guarded(env, 0, [&] {
        if (!out) throw std::invalid_argument("null output");
        const jsize n = env->GetArrayLength(out);
        CheckJava(env);
        if (n > 0xFFFF) libapdu::ExternalRaise(0x6B00, kSource, __LINE__);
        TBytes bytes(static_cast<size_t>(n), 0);
        {
            CCall call(env, card, handle);
            call.module->ReadFile(handle, fileId, length, bytes);
        }
        if (n > 0) env->SetByteArrayRegion(out, 0, n, reinterpret_cast<const jbyte*>(bytes.data()));
        CheckJava(env);
        return 0;
    });
}

KEYSHELF_JNI(void, changePin)(JNIEnv* env, jobject, jobject card, jlong handle, jcharArray oldPin,
                              jcharArray newPin) {
    Guarded(env, 0, [&] {
        CSecretText oldText, newText;
        PinArgument(env, oldPin, 0x6301, oldText);
        PinArgument(env, newPin, 0x6302, newText);
        CCall call(env, card, handle);
        call.module->ChangePin(handle, oldText.text, newText.text);
        return 0;
    });
}
