#include "APDUTokenModule.h"

#include <atomic>
#include <cwchar>

#include "libapdu.internal.h"

// The deliverable's transport and settings (see Z6EZBinding.h).
#include KEYSHELF_BINDING

namespace KOVA {
namespace APDUSupport {

using libapdu::TBytes;
using libapdu::IToken;
using libapdu::IException;

namespace {
using Transport = Binding::Transport;
const char* const kModuleFile = Binding::kModuleFile;
const wchar_t* const kSource = Binding::kModuleSource;

enum : long {
    kErrNotFound = 0x80070490L,  // unknown handle, or no directory open
    kErrBadDirName = 0x80070003L,
    kErrRefused = 0x6900,
};

[[noreturn]] void ModuleError(long code, unsigned long line) {
    CAException::RaiseAnError(code, kModuleFile, libapdu::BuildDate(), line);
}

const unsigned short kStoreRoot[] = {0xE00E, 0x0B00};
const unsigned short kJava = 0x2001, kJavaManager = 0x2002;
const unsigned short kProbeOrder[] = {0x2205, 0x1002, 0x2001, 0x2204, 0x2101, 0x2202, 0x2206};

// Chip identifications (bytes 3..8 of the GET DATA 9F7F answer) of refused Java tokens.
const unsigned char kRefusedChips[2][6] = {{0x40, 0x90, 0x78, 0x71, 0x12, 0x91}, {0x40, 0x90, 0x79, 0x01, 0x12, 0x91}};

libapdu::path StorePath() { return libapdu::path(std::begin(kStoreRoot), std::end(kStoreRoot)); }

libapdu::path DirPath(unsigned short dir) {
    libapdu::path p = StorePath();
    p.push_back(dir);
    return p;
}

// Runs select and reports whether the card said "file not found"; other errors propagate.
bool SelectFound(libapdu::IAppFS* fs, const libapdu::path& p) {
    try {
        fs->select(p);
        return true;
    } catch (IException& e) {
        if (e.code() == 0x6A82) return false;
        throw;
    }
}

bool RefusedByChip(JNIEnv* env, jobject card) {
    try {
        Transport probe(env, card);
        TBytes response(256, 0);
        probe.send(TBytes{0x80, 0xCA, 0x9F, 0x7F, 0x00}, response);
        if (response.size() < 9) return false;
        for (const auto& chip : kRefusedChips)
            if (std::equal(chip, chip + 6, response.begin() + 3)) return true;
        return false;
    } catch (...) {
        return true;  // any failure of this exchange refuses the token
    }
}

std::mutex g_instanceMutex;
std::shared_ptr<CAPDUTokenModule> g_instance;

// Handles are never given twice in the life of the process, so a caller that still
// holds a destroyed token's handle can never reach a later token: the deliverable's
// tag in the top 16 bits, then a count that outlives every module instance.
std::atomic<long long> g_handleCount{0};

// Whether this thread is inside a native call of this library.
thread_local bool t_inCall = false;

long long NewHandle() {
    return (static_cast<long long>(Binding::kHandleTag) << 48) | (g_handleCount.fetch_add(1) + 1);
}
}  // namespace

const CPFileInfo kContainerFiles[7] = {
    {0xF001, 1, 64, "MASKS_KEY_INIT_SIZE"},    {0xF002, 1, 80, "PRIMARY_KEY_INIT_SIZE"},
    {0xF003, 0, 2048, "HEADER_KEY_INIT_SIZE"}, {0xF004, 1, 64, "MASKS2_KEY_INIT_SIZE"},
    {0xF005, 1, 80, "PRIMARY2_KEY_INIT_SIZE"}, {0xF006, 0, 96, "NAME_KEY_INIT_SIZE"},
    {0xF007, 0, 8, "DEFAULT_KC_INIT_SIZE"},
};

// ---------------------------------------------------------------- instance

CAPDUTokenModule::CAPDUTokenModule() { InitializeCriticalSection(&m_lock); }

CAPDUTokenModule::~CAPDUTokenModule() = default;

CAPDUTokenModule* CAPDUTokenModule::GetInstance() {
    std::lock_guard<std::mutex> guard(g_instanceMutex);
    if (!g_instance) g_instance.reset(new CAPDUTokenModule);
    return g_instance.get();
}

void CAPDUTokenModule::ReleaseInstance() {
    std::shared_ptr<CAPDUTokenModule> old;
    {
        std::lock_guard<std::mutex> guard(g_instanceMutex);
        old.swap(g_instance);
    }
}

CAPDUTokenModule::CInstanceRef::CInstanceRef() {
    std::lock_guard<std::mutex> guard(g_instanceMutex);
    if (!g_instance) g_instance.reset(new CAPDUTokenModule);
    m_module = g_instance;
}

CAPDUTokenModule::CInstanceRef::~CInstanceRef() = default;

void CAPDUTokenModule::CInstanceRef::ReleaseIfUnused() {
    std::shared_ptr<CAPDUTokenModule> old;
    {
        std::lock_guard<std::mutex> guard(g_instanceMutex);
        // Copies are only made under this mutex, so no other call can pick the
        // instance up while we decide; one held by another call keeps it.
        if (g_instance == m_module && g_instance.use_count() == 2 && m_module->NumberOfTokens() == 0)
            old.swap(g_instance);
    }
}

CAPDUTokenModule::CEntry::CEntry() {
    if (t_inCall) throw CNestedCall();
    t_inCall = true;
}

CAPDUTokenModule::CEntry::~CEntry() { t_inCall = false; }

CAPDUTokenModule::CTokenCall::CTokenCall(CAPDUTokenModule& module, long long tokenKey) {
    // A handle that names no token is refused here, before the Java parameters of this
    // call reach any transport.
    {
        CAutoCSLock guard(module.m_lock);
        auto it = module.m_tokens.find(tokenKey);
        if (it == module.m_tokens.end()) ModuleError(kErrNotFound, __LINE__);
        m_mutex = it->second.callMutex;
    }
    m_lock = std::unique_lock<std::mutex>(*m_mutex);
    // Destroyed while we waited for its last call to end. A handle is never given to
    // another token, so one that is still registered names the token we waited for.
    CAutoCSLock guard(module.m_lock);
    if (module.m_tokens.find(tokenKey) == module.m_tokens.end()) ModuleError(kErrNotFound, __LINE__);
}

// ---------------------------------------------------------------- registry

sh_ptr<IToken> CAPDUTokenModule::GetToken(long long tokenKey) {
    CAutoCSLock guard(m_lock);
    auto it = m_tokens.find(tokenKey);
    if (it == m_tokens.end()) ModuleError(kErrNotFound, __LINE__);
    return it->second.token;
}

size_t CAPDUTokenModule::NumberOfTokens() {
    CAutoCSLock guard(m_lock);
    return m_tokens.size();
}

void CAPDUTokenModule::UpdateJavaParameters(JNIEnv* env, jobject card, long long tokenKey) {
    CAutoCSLock guard(m_lock);
    auto it = m_tokens.find(tokenKey);
    if (it == m_tokens.end()) return;
    if (auto* sender = dynamic_cast<Transport*>(it->second.token->sender())) sender->UpdateJavaParameters(env, card);
}

unsigned short CAPDUTokenModule::OpenedDir(long long tokenKey) {
    CAutoCSLock guard(m_lock);
    auto it = m_openedDirNames.find(tokenKey);
    return it == m_openedDirNames.end() ? 0 : it->second;
}

void CAPDUTokenModule::SetOpenedDir(long long tokenKey, unsigned short dir) {
    CAutoCSLock guard(m_lock);
    m_openedDirNames[tokenKey] = dir;
}

unsigned short CAPDUTokenModule::RequireOpenedDir(long long tokenKey) {
    const unsigned short dir = OpenedDir(tokenKey);
    if (dir == 0) ModuleError(kErrNotFound, __LINE__);
    return dir;
}

long long CAPDUTokenModule::CreateToken(JNIEnv* env, jobject card) {
    CAutoCSLock guard(m_lock);

    Transport* transport = new Transport(env, card);
    std::unique_ptr<libapdu::ISender> owner(transport);
    sh_ptr<IToken> token(IToken::create(owner).release());

    std::vector<unsigned short> found;
    for (unsigned short id : kProbeOrder) {
        try {
            token->switchToApplet(id);
            found.push_back(id);
        } catch (...) {
            // an applet that is absent or fails to answer is skipped
        }
    }
    if (found.empty())
        libapdu::ExternalRaise(Binding::kNoAppletCode, Binding::kNoAppletNamesSource ? kSource : L"",
                               Binding::kNoAppletNamesSource ? __LINE__ : 0);

    const unsigned short first = found.front();
    if (first == kJava) {
        token->switchToApplet(kJavaManager);
        const TBytes version = token->info()->version(1);
        if (version.empty()) libapdu::ExternalRaise(0x6281, kSource, __LINE__);
        if (version[0] > 8) ModuleError(kErrRefused, __LINE__);
        if (RefusedByChip(env, card)) ModuleError(kErrRefused, __LINE__);
    }

    transport->select_applet(first);
    token->switchToApplet(first);

    // Everything that can fail comes before the registration, so a failed call leaves
    // no token behind that Java never got a handle for.
    auto callMutex = std::make_shared<std::mutex>();
    const long long handle = NewHandle();
    m_openedDirNames[handle] = 0;
    m_tokens[handle] = Entry{token, callMutex};
    return handle;
}

void CAPDUTokenModule::DestroyToken(long long tokenKey) {
    sh_ptr<IToken> last(nullptr);  // the token goes when the last copy is dropped, after the lock
    CAutoCSLock guard(m_lock);
    auto it = m_tokens.find(tokenKey);
    if (it == m_tokens.end()) ModuleError(kErrNotFound, __LINE__);
    last = it->second.token;
    m_tokens.erase(it);
    // The handle is never given again: its directory entry goes with it.
    m_openedDirNames.erase(tokenKey);
}

// ---------------------------------------------------------------- directories

unsigned short CAPDUTokenModule::ConvertDir(const std::string& name) {
    // One hexadecimal number, read as the C library's %x would, but by its true value:
    // a sign or a value above FFFF is refused rather than wrapped.
    size_t i = 0;
    while (i < name.size() && (name[i] == ' ' || (name[i] >= '\t' && name[i] <= '\r'))) ++i;
    if (i < name.size() && (name[i] == '+' || name[i] == '-')) ModuleError(kErrBadDirName, __LINE__);
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9') return c - '0';
        if (c >= 'a' && c <= 'f') return c - 'a' + 10;
        if (c >= 'A' && c <= 'F') return c - 'A' + 10;
        return -1;
    };
    if (i + 2 < name.size() && name[i] == '0' && (name[i + 1] == 'x' || name[i + 1] == 'X') && hex(name[i + 2]) >= 0)
        i += 2;
    unsigned long value = 0;
    for (; i < name.size() && hex(name[i]) >= 0; ++i) {
        value = value * 16 + static_cast<unsigned long>(hex(name[i]));
        if (value > 0xFFFF) ModuleError(kErrBadDirName, __LINE__);
    }
    return static_cast<unsigned short>(value);
}

void CAPDUTokenModule::OpenDir(long long tokenKey, const std::string& name, unsigned char create) {
    if (OpenedDir(tokenKey) != 0) CloseDir(tokenKey, 0);
    sh_ptr<IToken> token = GetToken(tokenKey);
    const unsigned short dir = ConvertDir(name);
    const libapdu::path p = DirPath(dir);
    if (!SelectFound(token->fs(), p)) {
        if (!create) libapdu::ExternalRaise(0x6A82, L"", 0);
        libapdu::FileCreatePath(libapdu::TokenToAdapter(token.get()), p, libapdu::CFileInfo(2, 0, 0, 0));
    }
    SetOpenedDir(tokenKey, dir);
}

void CAPDUTokenModule::CloseDir(long long tokenKey, unsigned char remove) {
    const unsigned short dir = RequireOpenedDir(tokenKey);
    if (remove) {
        sh_ptr<IToken> token = GetToken(tokenKey);
        token->fs()->select(DirPath(dir));
        token->fs()->remove();
    }
    SetOpenedDir(tokenKey, 0);
}

std::wstring CAPDUTokenModule::GetDirList(long long tokenKey) {
    sh_ptr<IToken> token = GetToken(tokenKey);
    token->fs()->select(StorePath());
    std::wstring text;
    for (unsigned short id : token->fs()->list(2)) {
        wchar_t item[100];
        swprintf(item, 100, L"%x\\", static_cast<unsigned int>(id));
        text += item;
    }
    if (!text.empty()) text.pop_back();
    return text;
}

// ---------------------------------------------------------------- files

libapdu::path CAPDUTokenModule::FilePath(long long tokenKey, int file) {
    // A number outside 0..FFFF would alias another file once taken as 16 bits.
    if (file < 0 || file > 0xFFFF) libapdu::ExternalRaise(0x6B00, kSource, __LINE__);
    libapdu::path p = DirPath(OpenedDir(tokenKey));
    p.push_back(static_cast<unsigned short>(file));
    return p;
}

void CAPDUTokenModule::StoreFile(long long tokenKey, int file, const TBytes& data, unsigned char) {
    sh_ptr<IToken> token = GetToken(tokenKey);
    libapdu::path p = FilePath(tokenKey, file);
    // Refused before anything is created: a file holds at most 65535 bytes.
    if (data.size() > 0xFFFF) libapdu::ExternalRaise(0x6B00, kSource, __LINE__);
    // With no directory open the file would land in a directory 0000 made for it, which
    // no open names and no read reaches: the store would report success for bytes
    // that are lost.
    RequireOpenedDir(tokenKey);
    libapdu::IAppFS* fs = token->fs();
    if (!SelectFound(fs, p)) {
        for (const CPFileInfo& row : kContainerFiles) {
            if (row.fileId != file) continue;
            p.pop_back();
            const unsigned char u = static_cast<unsigned char>(libapdu::PinExtractAccess(token->pin()->pathUser()) & 0xFF);
            const unsigned short size = static_cast<unsigned short>(row.CalcInitFileSize(data.size()) & 0xFFFF);
            libapdu::FileCreatePath(libapdu::TokenToAdapter(token.get()), p, libapdu::CFileInfo(2, 0, 0, 0));
            fs->select(p);
            fs->create(row.fileId, libapdu::CFileInfo(1, size, row.readProtected ? u : 0, u));
            p.push_back(row.fileId);
            break;
        }
    }
    fs->select(p);
    // A store never grows a file, and the pieces of a write that does not fit would
    // overwrite the head of the container before the first piece past the end fails:
    // refuse it whole, with the code that piece would have raised.
    if (data.size() > fs->info().size) libapdu::ExternalRaise(0x6A84, kSource, __LINE__);
    fs->write(data, 0);
}

void CAPDUTokenModule::ReadFile(long long tokenKey, int file, int, TBytes& out) {
    sh_ptr<IToken> token = GetToken(tokenKey);
    RequireOpenedDir(tokenKey);
    token->fs()->select(FilePath(tokenKey, file));
    token->fs()->read(out, 0);
}

int CAPDUTokenModule::GetFileSize(long long tokenKey, int file) {
    sh_ptr<IToken> token = GetToken(tokenKey);
    RequireOpenedDir(tokenKey);
    token->fs()->select(FilePath(tokenKey, file));
    return static_cast<int>(token->fs()->info().size);
}

void CAPDUTokenModule::DeleteFile(long long tokenKey, int file) {
    sh_ptr<IToken> token = GetToken(tokenKey);
    token->fs()->select(FilePath(tokenKey, file));
    token->fs()->remove();
}

// ---------------------------------------------------------------- token

std::wstring CAPDUTokenModule::GetSmartcardID(long long tokenKey) {
    sh_ptr<IToken> token = GetToken(tokenKey);
    std::wstring text;
    for (unsigned char b : token->info()->id(2)) {
        wchar_t item[8];
        swprintf(item, 8, L"%x\\", static_cast<unsigned int>(b));
        text += item;
    }
    return text;
}

void CAPDUTokenModule::LoginTo(long long tokenKey, const std::wstring& pin) {
    sh_ptr<IToken> token = GetToken(tokenKey);
    libapdu::IAppPin* facet = token->pin();
    // Encoded before the designator is selected: a PIN the encoding refuses (a lone
    // surrogate from Java) is refused before any card traffic.
    const TBytes bytes = libapdu::IConvert::wstring_to_bytes(pin, static_cast<unsigned char>(facet->encoding()));
    facet->select(facet->pathUser());
    facet->login(bytes);
}

void CAPDUTokenModule::ChangePin(long long tokenKey, const std::wstring& oldPin, const std::wstring& newPin) {
    sh_ptr<IToken> token = GetToken(tokenKey);
    libapdu::IAppPin* facet = token->pin();
    const unsigned char encoding = static_cast<unsigned char>(facet->encoding());
    // Both PINs encoded before any card traffic: a new PIN the encoding refuses must
    // not cost a login with the old one first.
    const TBytes oldBytes = libapdu::IConvert::wstring_to_bytes(oldPin, encoding);
    const TBytes newBytes = libapdu::IConvert::wstring_to_bytes(newPin, encoding);
    facet->select(facet->pathUser());
    facet->login(oldBytes);
    facet->select(facet->pathUser());
    facet->change(newBytes);
}

void CAPDUTokenModule::LogoutFrom(long long tokenKey) {
    sh_ptr<IToken> token = GetToken(tokenKey);
    token->pin()->logout();
}

}  // namespace APDUSupport
}  // namespace KOVA
