// The thirteen native methods of the key store as C++ calls: the token module, built
// for the tests over CSenderTransport, driven exactly as the entry points drive it
// (the instance and the token's call lock taken, the card of this call handed to the
// token's transport, one module operation, the instance released after the last
// token). The card of each call is an ISender. Arguments are checked as the entry
// points check them; failures are thrown as the module raises them, and Run turns
// them into what the Java caller would see.
#ifndef TESTS_BINDING_MODULE_BINDING_H
#define TESTS_BINDING_MODULE_BINDING_H

#include <string>

#include "libapdu.h"

namespace module_binding {

using libapdu::ISender;
using libapdu::TBytes;

long long createToken(ISender* card);
void destroyToken(ISender* card, long long handle);
// PINs as Java hands them: UTF-16 code units; null stands for a null char[].
void Login(ISender* card, long long handle, const std::u16string* pin);
void Logout(ISender* card, long long handle);
std::wstring getTokenSerial(ISender* card, long long handle);
std::wstring getDirList(ISender* card, long long handle);
void openDir(ISender* card, long long handle, const std::string& name, bool create);
void closeDir(ISender* card, long long handle, bool remove);
void deleteFile(ISender* card, long long handle, int fileId);
void storeFile(ISender* card, long long handle, int fileId, const TBytes& data, bool flag);
int getFileSize(ISender* card, long long handle, int fileId);
// Fills `out` (its size is the Java array's length) from the file.
void readFile(ISender* card, long long handle, int fileId, int length, TBytes& out);
void changePin(ISender* card, long long handle, const std::u16string* oldPin, const std::u16string* newPin);

// How many tokens the module holds (0 when it is released).
size_t tokenCount();

// What a Java caller sees of a call: no class when it succeeded, else the exception's
// JNI class name and message.
struct Outcome {
    std::string javaClass;
    std::string message;
    bool ok() const { return javaClass.empty(); }
};

// Runs one call and reports it as the native method's frame would.
template <class F> Outcome Run(F&& call);
Outcome Describe(const libapdu::IException& e);
Outcome DescribeUnknown();

}  // namespace module_binding

template <class F> module_binding::Outcome module_binding::Run(F&& call) {
    try {
        call();
        return Outcome();
    } catch (libapdu::IException& e) {
        return Describe(e);
    } catch (...) {
        return DescribeUnknown();
    }
}

#endif
