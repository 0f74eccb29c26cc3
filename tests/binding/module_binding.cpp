#include "module_binding.h"

#include "APDUTokenModule.h"
#include "ExceptionsProcessor.h"
#include "libapdu.internal.h"
#include "sender_transport.h"

namespace module_binding {

using KOVA::APDUSupport::CAPDUExceptionsProcessor;
using KOVA::APDUSupport::CAPDUTokenModule;
using KOVA::APDUSupport::CSenderTransport;
using CCall = CAPDUTokenModule::CCall;
using CEntry = CAPDUTokenModule::CEntry;

namespace {
const wchar_t kSource[] = L"tests/binding/module_binding";

jobject Card(ISender* card) { return CSenderTransport::CardOf(card); }

// A PIN held as the entry points hold it: one wide character per code unit, wiped when released.
struct CPin {
    std::wstring text;
    CPin(const std::u16string* pin, unsigned short missing) {
        if (!pin || pin->empty()) libapdu::ExternalRaise(missing, kSource, __LINE__);
        if (pin->size() > 0xFFFF) libapdu::ExternalRaise(0x6B00, kSource, __LINE__);
        text.resize(pin->size());
        for (size_t i = 0; i < pin->size(); ++i) text[i] = static_cast<wchar_t>((*pin)[i]);
    }
    ~CPin() { libapdu::SecureWipe(&text[0], text.size() * sizeof(wchar_t)); }
};

void CheckLength(size_t n) {
    if (n > 0xFFFF) libapdu::ExternalRaise(0x6B00, kSource, __LINE__);
}
}  // namespace

long long createToken(ISender* card) {
    CEntry entry;  // first, as in the frame of every native method
    if (!card) throw std::invalid_argument("null card");
    CAPDUTokenModule::CInstanceRef module;
    return module->CreateToken(nullptr, Card(card));
}

void destroyToken(ISender* card, long long handle) {
    CEntry entry;
    CCall call(nullptr, Card(card), handle);
    call.module->DestroyToken(handle);
    call.module.ReleaseIfUnused();
}

void Login(ISender* card, long long handle, const std::u16string* pin) {
    CEntry entry;
    CPin text(pin, 0x6301);
    CCall call(nullptr, Card(card), handle);
    call.module->LoginTo(handle, text.text);
}

void Logout(ISender* card, long long handle) {
    CEntry entry;
    CCall call(nullptr, Card(card), handle);
    call.module->LogoutFrom(handle);
}

std::wstring getTokenSerial(ISender* card, long long handle) {
    CEntry entry;
    CCall call(nullptr, Card(card), handle);
    return call.module->GetSmartcardID(handle);
}

std::wstring getDirList(ISender* card, long long handle) {
    CEntry entry;
    CCall call(nullptr, Card(card), handle);
    return call.module->GetDirList(handle);
}

void openDir(ISender* card, long long handle, const std::string& name, bool create) {
    CEntry entry;
    CCall call(nullptr, Card(card), handle);
    call.module->OpenDir(handle, name, create ? 1 : 0);
}

void closeDir(ISender* card, long long handle, bool remove) {
    CEntry entry;
    CCall call(nullptr, Card(card), handle);
    call.module->CloseDir(handle, remove ? 1 : 0);
}

void deleteFile(ISender* card, long long handle, int fileId) {
    CEntry entry;
    CCall call(nullptr, Card(card), handle);
    call.module->DeleteFile(handle, fileId);
}

void storeFile(ISender* card, long long handle, int fileId, const TBytes& data, bool flag) {
    CEntry entry;
    CheckLength(data.size());
    CCall call(nullptr, Card(card), handle);
    call.module->StoreFile(handle, fileId, data, flag ? 1 : 0);
}

int getFileSize(ISender* card, long long handle, int fileId) {
    CEntry entry;
    CCall call(nullptr, Card(card), handle);
    return call.module->GetFileSize(handle, fileId);
}

void readFile(ISender* card, long long handle, int fileId, int length, TBytes& out) {
    CEntry entry;
    CheckLength(out.size());
    std::fill(out.begin(), out.end(), 0);
    CCall call(nullptr, Card(card), handle);
    call.module->ReadFile(handle, fileId, length, out);
}

void changePin(ISender* card, long long handle, const std::u16string* oldPin, const std::u16string* newPin) {
    CEntry entry;
    CPin oldText(oldPin, 0x6301);
    CPin newText(newPin, 0x6302);
    CCall call(nullptr, Card(card), handle);
    call.module->ChangePin(handle, oldText.text, newText.text);
}

size_t tokenCount() {
    CAPDUTokenModule::CInstanceRef module;
    const size_t n = module->NumberOfTokens();
    module.ReleaseIfUnused();
    return n;
}

Outcome Describe(const libapdu::IException& e) {
    Outcome o;
    o.javaClass = CAPDUExceptionsProcessor::Describe(e.code(), o.message);
    return o;
}

Outcome DescribeUnknown() {
    Outcome o;
    o.javaClass = CAPDUExceptionsProcessor::UnknownErrorClass();
    o.message = "Unknown error";
    return o;
}

}  // namespace module_binding
