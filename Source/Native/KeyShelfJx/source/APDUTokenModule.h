// The process-wide registry of open tokens and the key-container file store on them.
#ifndef KEYSHELF_APDUTOKENMODULE_H
#define KEYSHELF_APDUTOKENMODULE_H

#include <jni.h>

#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>

#include "CriticalSection.h"
#include "libapdu.h"

namespace KOVA {
namespace APDUSupport {

// One row of the key-container file table.
struct CPFileInfo {
    unsigned short fileId;
    unsigned char readProtected;
    unsigned long long initSize;
    const char* name;

    unsigned long long CalcInitFileSize(unsigned long long n) const { return n > initSize ? n : initSize; }
};

extern const CPFileInfo kContainerFiles[7];

class CAPDUTokenModule {
public:
    virtual ~CAPDUTokenModule();

    static CAPDUTokenModule* GetInstance();
    static void ReleaseInstance();

    void UpdateJavaParameters(JNIEnv* env, jobject card, long long tokenKey);

    long long CreateToken(JNIEnv* env, jobject card);
    void DestroyToken(long long tokenKey);
    size_t NumberOfTokens();

    void OpenDir(long long tokenKey, const std::string& name, unsigned char create);
    void CloseDir(long long tokenKey, unsigned char remove);
    std::wstring GetDirList(long long tokenKey);

    void StoreFile(long long tokenKey, int file, const libapdu::TBytes& data, unsigned char flag);
    void ReadFile(long long tokenKey, int file, int length, libapdu::TBytes& out);
    int GetFileSize(long long tokenKey, int file);
    void DeleteFile(long long tokenKey, int file);

    std::wstring GetSmartcardID(long long tokenKey);
    void LoginTo(long long tokenKey, const std::wstring& pin);
    void ChangePin(long long tokenKey, const std::wstring& oldPin, const std::wstring& newPin);
    void LogoutFrom(long long tokenKey);

    static unsigned short ConvertDir(const std::string& name);
    sh_ptr<libapdu::IToken> GetToken(long long tokenKey);

    // Marks the calling thread as inside a native call for the length of that call;
    // the first thing each native method does. A card whose transmit calls back into
    // the library on the same thread is refused here, before its arguments are read
    // and before anything is looked up or sent: served, the nested call
    // would hand a token's transport its own environment and card in the middle of
    // the outer call's exchange (whose next command would then go through a dead
    // reference, or to the nested call's file), or wait for a lock the outer call
    // holds (createToken holds the module lock through the whole probe, and a call
    // on another token could wait for a thread that waits for this one). Raises
    // CNestedCall, which reaches Java as "Unknown error".
    class CEntry {
    public:
        CEntry();
        ~CEntry();
        CEntry(const CEntry&) = delete;
        CEntry& operator=(const CEntry&) = delete;
    };
    struct CNestedCall : std::logic_error {
        CNestedCall() : std::logic_error("a native call made from inside another on the same thread") {}
    };

    // Serialises the calls on one token: held by an entry point from the refresh of
    // the Java parameters to the end of its module operation, so two threads never
    // share the stored environment or interleave their APDUs. Not recursive: the
    // thread that holds it is inside a call, and CEntry refuses it any other. Raises
    // the module's not-found error (80070490) when the handle names no token.
    class CTokenCall {
    public:
        CTokenCall(CAPDUTokenModule& module, long long tokenKey);
    private:
        std::shared_ptr<std::mutex> m_mutex;
        std::unique_lock<std::mutex> m_lock;
    };

    // Keeps the instance alive for the length of one native call.
    class CInstanceRef {
    public:
        CInstanceRef();
        ~CInstanceRef();
        CAPDUTokenModule* operator->() const { return m_module.get(); }
        CAPDUTokenModule& operator*() const { return *m_module; }
        // Releases the instance when no token is left and no other call holds it.
        void ReleaseIfUnused();
    private:
        std::shared_ptr<CAPDUTokenModule> m_module;
    };

    // What every native method but createToken holds for its module operation, inside
    // its CEntry: the instance, and the token's call lock, taken before the Java
    // parameters of this call are handed to the token's transport.
    struct CCall {
        CInstanceRef module;
        CTokenCall token;
        CCall(JNIEnv* env, jobject card, long long tokenKey) : token(*module, tokenKey) {
            module->UpdateJavaParameters(env, card, tokenKey);
        }
    };

private:
    CAPDUTokenModule();

    struct Entry {
        sh_ptr<libapdu::IToken> token;
        std::shared_ptr<std::mutex> callMutex;
    };

    libapdu::path FilePath(long long tokenKey, int file);
    unsigned short OpenedDir(long long tokenKey);
    void SetOpenedDir(long long tokenKey, unsigned short dir);
    unsigned short RequireOpenedDir(long long tokenKey);

    std::map<long long, Entry> m_tokens;
    std::map<long long, unsigned short> m_openedDirNames;
    _RTL_CRITICAL_SECTION m_lock;
};

}  // namespace APDUSupport
}  // namespace KOVA

#endif
