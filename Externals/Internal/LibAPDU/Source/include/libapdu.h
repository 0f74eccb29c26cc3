// Public interface of the card library: shared types, exceptions, the transport,
// the facet interfaces with their not-supported defaults, the token, the adapter
// and the conversion helpers.
#ifndef LIBAPDU_H
#define LIBAPDU_H

#include <cstddef>
#include <cstdint>
#include <memory>
#include <new>
#include <string>
#include <type_traits>
#include <vector>

// The card library is the interface of the shared libraries that carry it: its
// namespace is exported, everything else they are built from stays hidden.
#ifndef LIBAPDU_API
#define LIBAPDU_API __attribute__((visibility("default")))
#endif

// The binding's own exception. It is deliberately not a libapdu::IException:
// handlers that catch card errors let it pass to the catch-all.
class CAException {
public:
    CAException(long code, const char* file, const char* date, unsigned long line);
    virtual ~CAException();

    [[noreturn]] static void RaiseAnError(long code, const char* file, const char* date, unsigned long line);

    long code() const { return m_code; }
    const std::string& file() const { return m_file; }
    const std::string& date() const { return m_date; }
    unsigned long line() const { return m_line; }

private:
    long m_code;
    std::string m_file;
    std::string m_date;
    unsigned long m_line;
};

namespace libapdu LIBAPDU_API {

// Overwrites n bytes at p with zeros; the writes are never optimised away.
void SecureWipe(void* p, std::size_t n) noexcept;

// The blocks of the library's byte buffers, taken and given back out of line: the
// one place that wipes them. (Inlined, the optimiser follows a block's size into the
// vector's growth paths that cannot run and reports overflows there that are not.)
void* AllocateBlock(std::size_t n);
void FreeWipedBlock(void* p, std::size_t n) noexcept;  // wiped, then freed

// The allocator of the library's byte buffers. Nearly every buffer can carry a
// secret (a command with a PIN, a MAC or a key part; an answer with a protected
// file or deciphered data), so each block is wiped before it is given back: no
// growth, copy, assignment, by-value parameter or buffer lent to a callee can
// leave its bytes in freed memory.
template <class T>
class CWipingAllocator {
public:
    typedef T value_type;

    CWipingAllocator() noexcept = default;
    template <class U>
    CWipingAllocator(const CWipingAllocator<U>&) noexcept {}

    T* allocate(std::size_t n) {
        if (n > static_cast<std::size_t>(-1) / sizeof(T)) throw std::bad_array_new_length();
        return static_cast<T*>(AllocateBlock(n * sizeof(T)));
    }
    void deallocate(T* p, std::size_t n) noexcept { FreeWipedBlock(p, n * sizeof(T)); }
};

template <class T, class U>
bool operator==(const CWipingAllocator<T>&, const CWipingAllocator<U>&) noexcept {
    return true;
}
template <class T, class U>
bool operator!=(const CWipingAllocator<T>&, const CWipingAllocator<U>&) noexcept {
    return false;
}

typedef std::vector<unsigned char, CWipingAllocator<unsigned char>> TBytes;
// Every block a buffer holds, whatever it is rebound to inside the vector, is one of ours.
static_assert(std::is_same<std::allocator_traits<TBytes::allocator_type>::rebind_alloc<unsigned char>,
                           CWipingAllocator<unsigned char>>::value,
              "byte buffers must keep the wiping allocator");

typedef std::vector<unsigned short> path;
typedef path TPath;

// Library codes besides the ISO/IEC 7816-4 status words.
enum : unsigned short {
    kErrNotSupported = 0xFACE,
    kErrGeneral = 0xFFFF,
};

// ---------------------------------------------------------------- exceptions

class IException {
public:
    virtual ~IException();
    virtual unsigned short code() const = 0;
};

class CSCardException : public IException, public CAException {
public:
    CSCardException(long code, const char* file, const char* date, unsigned long line);
    ~CSCardException() override;
    unsigned short code() const override;
};

// The one routine through which the card library reports an error.
[[noreturn]] void ExternalRaise(unsigned short code, const std::wstring& source, unsigned long line);
void ExternalTrace(const std::wstring& source, unsigned long line, const std::wstring& text);

// The build date that every exception of this build carries.
const char* BuildDate();

class CTraceScope {
public:
    static const std::wstring enter_msg;
    static const std::wstring exit_msg;
};

// ---------------------------------------------------------------- transport

class ISender {
public:
    virtual void send(const TBytes& command, TBytes& response) = 0;
    virtual TBytes atr() = 0;
    virtual void control(unsigned int code, const TBytes& in, TBytes& out);
    virtual ~ISender();
};

// ---------------------------------------------------------------- records

struct CFileInfo {
    unsigned char type;
    unsigned short size;
    unsigned char readAccess;
    unsigned char writeAccess;

    CFileInfo() : type(0), size(0), readAccess(0xFF), writeAccess(0xFF) {}
    CFileInfo(unsigned char t, unsigned short s, unsigned char r, unsigned char w)
        : type(t), size(s), readAccess(r), writeAccess(w) {}
    bool operator==(const CFileInfo& o) const {
        return type == o.type && size == o.size && readAccess == o.readAccess && writeAccess == o.writeAccess;
    }
    bool operator!=(const CFileInfo& o) const { return !(*this == o); }
};

struct PinInfo {
    unsigned short minLength = 0;
    unsigned short maxLength = 0;
    unsigned char triesLeft = 0;
    unsigned char triesMax = 0;
    unsigned short loginState = 0;
};

struct CProviderInfo {
    unsigned short id = 0;
    std::vector<unsigned short> keySizes;
    unsigned char flags = 0;
};

typedef CProviderInfo ProviderInfo;

struct CCryptoInfo {
    unsigned short provider = 0;
    unsigned short keyLength = 0;
    unsigned char pinReference = 0xFF;
    TBytes name;
    TBytes certificate;
    TBytes modulus;
    TBytes keyPart1;
    TBytes keyPart2;
    TBytes privateKey;
    TBytes keyPart3;
    TBytes keyPart4;
    TBytes keyPart5;
    TBytes keyPart6;
    TBytes keyPart7;
    TBytes keyPart8;
    unsigned char flags = 0;
    ::libapdu::path path;
};

// The RSA modulus of a DER X.509 certificate: the content of the INTEGER in the
// subject public key, less the 00 that keeps a modulus with its top bit set
// positive. Throws the plain integer 0 (no IException) for every malformed structure.
TBytes extractPublicKeyFromCert(const TBytes& certificate);
// True when data has exactly the modulus's length and, big-endian, is below it.
bool isValidDataForRSA(const TBytes& modulus, const TBytes& data);
// The value of the first certificate record (00 11) of a Tessel attribute file: a
// seven-byte header, then records (00, type, one byte, a two-byte length, the
// value), each followed by any number of FF fillers. Empty when there is none,
// or when the file is cut inside the header, a record or its fillers.
TBytes GetValueFromAtributeFile(TBytes content);

// ---------------------------------------------------------------- facets
// No interface is abstract: every default raises FACE, so a plain instance is a
// complete facet that refuses everything.

extern const wchar_t kHeaderSource[];  // "Externals/Internal/LibAPDU/Source/include/libapdu"

#define LIBAPDU_NOT_SUPPORTED() ::libapdu::ExternalRaise(0xFACE, ::libapdu::kHeaderSource, __LINE__)

class IAppFS {
public:
    virtual ~IAppFS();
    virtual void select(path) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void selectByName(path) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void selectByFID(unsigned short) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void create(unsigned short, CFileInfo) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void resize(unsigned short) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void remove() { LIBAPDU_NOT_SUPPORTED(); }
    virtual CFileInfo info() { LIBAPDU_NOT_SUPPORTED(); }
    virtual std::vector<unsigned short> list(unsigned char) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void read(TBytes&, unsigned short) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void write(const TBytes&, unsigned short) { LIBAPDU_NOT_SUPPORTED(); }

    static IAppFS stub;
};

class IAppPin {
public:
    virtual ~IAppPin();
    virtual void select(const path&) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void login(const TBytes&) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void externalLogin(const TBytes&) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void change(const TBytes&) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void unblock(const TBytes&) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void logout() { LIBAPDU_NOT_SUPPORTED(); }
    virtual PinInfo info() { LIBAPDU_NOT_SUPPORTED(); }
    virtual const path& pathUser() { LIBAPDU_NOT_SUPPORTED(); }
    virtual const path& pathAdmin() { LIBAPDU_NOT_SUPPORTED(); }
    virtual const path& pathGlobal() { LIBAPDU_NOT_SUPPORTED(); }
    virtual TBytes challengeGet() { LIBAPDU_NOT_SUPPORTED(); }
    virtual int encoding() { LIBAPDU_NOT_SUPPORTED(); }

    static const path EmptyPath;
    static IAppPin stub;
};

class IAppInfo {
public:
    virtual ~IAppInfo();
    virtual TBytes rnd(size_t) { LIBAPDU_NOT_SUPPORTED(); }
    virtual bool isFips() { LIBAPDU_NOT_SUPPORTED(); }
    virtual TBytes version(unsigned char) { LIBAPDU_NOT_SUPPORTED(); }
    virtual TBytes id(unsigned char) { LIBAPDU_NOT_SUPPORTED(); }
    virtual unsigned int color() { LIBAPDU_NOT_SUPPORTED(); }
    virtual unsigned int memoryFree() { LIBAPDU_NOT_SUPPORTED(); }
    virtual unsigned int memoryTotal() { LIBAPDU_NOT_SUPPORTED(); }
    virtual TBytes value(unsigned char) { LIBAPDU_NOT_SUPPORTED(); }
    virtual bool isZudezoZudSMSupport() { LIBAPDU_NOT_SUPPORTED(); }
    virtual TBytes getZudezoZudSMInfo(unsigned char) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void setZudezoZudSMInfo(const TBytes&, unsigned char, const TBytes&, const TBytes&, unsigned char) {
        LIBAPDU_NOT_SUPPORTED();
    }

    static IAppInfo stub;
};

class IAppLabel {
public:
    virtual ~IAppLabel();
    virtual TBytes read() { LIBAPDU_NOT_SUPPORTED(); }
    virtual void write(const TBytes&) { LIBAPDU_NOT_SUPPORTED(); }
    virtual int encoding() { LIBAPDU_NOT_SUPPORTED(); }

    static IAppLabel stub;
};

class IAppCrypto {
public:
    virtual ~IAppCrypto();
    virtual void select(path) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void create(unsigned short, CCryptoInfo) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void remove() { LIBAPDU_NOT_SUPPORTED(); }
    virtual CCryptoInfo info() { LIBAPDU_NOT_SUPPORTED(); }
    virtual std::vector<path> list(unsigned short) { LIBAPDU_NOT_SUPPORTED(); }
    virtual TBytes encrypt(const TBytes&) { LIBAPDU_NOT_SUPPORTED(); }
    virtual TBytes decrypt(const TBytes&) { LIBAPDU_NOT_SUPPORTED(); }
    virtual unsigned char genKeyPair(const unsigned char&, bool) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void removeKeyPair(const unsigned char&, unsigned char) { LIBAPDU_NOT_SUPPORTED(); }
    virtual TBytes getPublicKey(const unsigned char&, const unsigned char&) { LIBAPDU_NOT_SUPPORTED(); }
    virtual TBytes getListCryptObjects(const unsigned char&, const unsigned char&) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void startHash(const unsigned char&) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void continueHash(const TBytes&) { LIBAPDU_NOT_SUPPORTED(); }
    virtual TBytes finishHash() { LIBAPDU_NOT_SUPPORTED(); }
    virtual TBytes signUseHashData(const unsigned char&, const TBytes&, const TBytes&) { LIBAPDU_NOT_SUPPORTED(); }
    virtual TBytes genAgreementKey(const TBytes&, const TBytes&, const unsigned char&, const unsigned char&, bool) {
        LIBAPDU_NOT_SUPPORTED();
    }
    virtual CProviderInfo provider(unsigned short) { LIBAPDU_NOT_SUPPORTED(); }

    static IAppCrypto stub;
};

class IAppBio {
public:
    virtual ~IAppBio();
    virtual void select(const path&) { LIBAPDU_NOT_SUPPORTED(); }
    virtual unsigned int loginType() { LIBAPDU_NOT_SUPPORTED(); }
    virtual TBytes getEnrolledFingers() { LIBAPDU_NOT_SUPPORTED(); }
    virtual TBytes readPublicBioData(unsigned char) { LIBAPDU_NOT_SUPPORTED(); }
    virtual TBytes appletMoC(const TBytes&, unsigned char) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void enrollTemplate(const TBytes&, const TBytes&, unsigned char) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void eraseTemplate(unsigned char) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void loginByTicket(const TBytes&) { LIBAPDU_NOT_SUPPORTED(); }
};

class IAppSession {
public:
    virtual ~IAppSession();
    virtual TBytes startSetZudezoZudSM(const TBytes&, unsigned char) { LIBAPDU_NOT_SUPPORTED(); }
    virtual TBytes finishSetZudezoZudSM(const TBytes&) { LIBAPDU_NOT_SUPPORTED(); }
    virtual unsigned char getStatusSM() { LIBAPDU_NOT_SUPPORTED(); }
    virtual void setStatusSM(const unsigned char&) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void setStrictSession(const TBytes&) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void setStandartSession(const TBytes&) { LIBAPDU_NOT_SUPPORTED(); }
    virtual void setLimitedSession() { LIBAPDU_NOT_SUPPORTED(); }
    virtual void setOfflineSession() { LIBAPDU_NOT_SUPPORTED(); }
    virtual void endSession() { LIBAPDU_NOT_SUPPORTED(); }
};

class IAppPack;  // internal header

// Status words to success or a canonical error; the base table.
class IAppError {
public:
    virtual ~IAppError();
    virtual unsigned short extractSW(const TBytes& response);
    virtual void raiseSW(unsigned short sw);
};

// ---------------------------------------------------------------- adapter

struct CAdapter {
    IAppFS* fs = &IAppFS::stub;
    IAppPin* pin = &IAppPin::stub;
    IAppInfo* info = &IAppInfo::stub;
    IAppCrypto* crypto = &IAppCrypto::stub;
    IAppLabel* label = &IAppLabel::stub;
};

unsigned short PinExtractAccess(const path& p);
CFileInfo FileMakeDirInfo(CAdapter a);
CFileInfo FileMakeFileInfo(CAdapter a, unsigned short size, bool isProtected);
TBytes FileRead(CAdapter a);
void FileCreatePath(CAdapter a, const path& target, CFileInfo info);
void FileCreateAndWrite(CAdapter a, path p, CFileInfo info, const TBytes& data);
void FileDeletePath(CAdapter a, path p);

std::string base64_encode(const TBytes& bytes);
TBytes base64_decode(const std::string& text);
void reverseBuf(TBytes& v);

// ---------------------------------------------------------------- applet base

class IApplet {
public:
    explicit IApplet(ISender* sender = nullptr);
    virtual ~IApplet();
    IApplet(const IApplet&) = delete;
    IApplet& operator=(const IApplet&) = delete;

    virtual void selectTokenApp() {}
    virtual void init() {}
    virtual void switchToFileSystem(unsigned short) {}

    // Accessors: raise FACE for an empty slot.
    ISender* sender() const;
    IAppError* error() const;
    IAppPack* pack() const;
    IAppFS* fs() const;
    IAppPin* pin() const;
    IAppInfo* info() const;
    IAppLabel* label() const;
    IAppCrypto* crypto() const;
    IAppBio* bio() const;
    IAppSession* session() const;

    // Putting an object into a slot deletes the one held before, unless it is the same.
    void setError(IAppError* p);
    void setPack(IAppPack* p);
    void setFs(IAppFS* p);
    void setPin(IAppPin* p);
    void setInfo(IAppInfo* p);
    void setLabel(IAppLabel* p);
    void setCrypto(IAppCrypto* p);
    void setBio(IAppBio* p);
    void setSession(IAppSession* p);

protected:
    // Fills every slot with a fresh bare object and stores the sender.
    void installDefaults(ISender* sender);

private:
    template <class T> struct Slot {
        T* p = nullptr;
        // Emptied before the delete, so a facet that reaches back into the applet
        // while it is being destroyed meets FACE, not a freed object.
        ~Slot() {
            T* old = p;
            p = nullptr;
            delete old;
        }
        void set(T* q) {
            if (q == p) return;
            T* old = p;
            p = q;
            delete old;
        }
    };
    ISender* m_sender = nullptr;
    // Declaration order is the deletion order reversed: session goes first, error last.
    Slot<IAppError> m_error;
    Slot<IAppPack> m_pack;
    Slot<IAppFS> m_fs;
    Slot<IAppPin> m_pin;
    Slot<IAppInfo> m_info;
    Slot<IAppLabel> m_label;
    Slot<IAppCrypto> m_crypto;
    Slot<IAppBio> m_bio;
    Slot<IAppSession> m_session;
};

CAdapter AppletToAdapter(IApplet* applet);

// ---------------------------------------------------------------- token

struct TTokenType {
    unsigned char group;
    unsigned char family;
    unsigned char subModel;
    unsigned char atrLength;
    unsigned char atr[36];
    unsigned char mask[36];
    unsigned char platform;

    static const TTokenType TVelmoraWren;
    static const TTokenType TVelmoraKite16;
    static const TTokenType TVelmoraKite32;
    static const TTokenType TVelmoraKite42;
    static const TTokenType TVelmoraKite42b;
    static const TTokenType TVelmoraJava10;
    static const TTokenType TVelmoraJava10b;
    static const TTokenType TMirelTessel;
    static const TTokenType TMirelPellar;
    static const TTokenType TMirelPellarEMVT0;
    static const TTokenType TMirelPellarEMVT1;
    static const TTokenType TMirelPellarLT;
    static const TTokenType TUnknown;

    static const TTokenType* fromAtr(const TBytes& atr);
};

class IToken {
public:
    virtual ~IToken();
    virtual bool checkIfExist(unsigned short id) = 0;
    virtual void selectApplet(unsigned short id) = 0;
    virtual void switchToApplet(unsigned short id) = 0;
    virtual void useAsApplet(unsigned short id) = 0;
    virtual void switchToFileSystem(unsigned short kind) = 0;
    virtual IAppFS* fs() = 0;
    virtual IAppPin* pin() = 0;
    virtual IAppInfo* info() = 0;
    virtual IAppLabel* label() = 0;
    virtual IAppCrypto* crypto() = 0;
    virtual IAppBio* bio() = 0;
    virtual IAppSession* session() = 0;
    virtual ISender* sender() = 0;

    // Takes the transport out of the owning pointer, which is left empty.
    static std::unique_ptr<IToken> create(std::unique_ptr<ISender>& sender);
};

CAdapter TokenToAdapter(IToken* token);

// ---------------------------------------------------------------- conversions

class IConv {
public:
    static bool isInit;
    static void init();
    static TBytes str2bytes(std::string s);
    static std::string bytes2str(TBytes b);
    static std::wstring char2wchar(const std::string& s);
    static std::string wchar2char(const std::wstring& w);
    static std::string wchar2utf8(const std::wstring& w);
    static std::wstring utf82wchar(const std::string& s);
};

class IConvert {
public:
    static TBytes string_to_bytes(const std::string& s, unsigned char encoding);
    static TBytes wstring_to_bytes(const std::wstring& w, unsigned char encoding);
    static std::string bytes_to_string(const TBytes& b, unsigned char encoding);
    static std::wstring bytes_to_wstring(const TBytes& b, unsigned char encoding);
};

}  // namespace libapdu

#endif
