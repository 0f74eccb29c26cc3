// The token module's settings for the tests' own build of it: the transport is an
// ISender of the test's own, so the module runs, as the native methods drive it,
// with no Java virtual machine (see module_binding.h). Its other settings are
// those of libKeyShelfJx.
#ifndef TESTS_BINDING_SENDER_BINDING_H
#define TESTS_BINDING_SENDER_BINDING_H

#include "sender_transport.h"

#define KEYSHELF_NATIVE(name) KeyShelfTestBinding_##name

namespace KOVA {
namespace APDUSupport {
namespace Binding {

using Transport = CSenderTransport;

constexpr char kModuleFile[] = "Source/Native/KeyShelfJx/source/APDUTokenModule";
constexpr wchar_t kModuleSource[] = L"Source/Native/KeyShelfJx/source/APDUTokenModule";
constexpr wchar_t kEntrySource[] = L"Source/Native/KeyShelfJx/source/KeyShelf";

constexpr char kUnknownErrorClass[] = "java/io/IOException";

constexpr unsigned short kNoAppletCode = 0xFFFF;
// Top 16 bits of every token handle ("TB"): a handle of one deliverable never names
// a token of the other when both are loaded in one process.
constexpr unsigned short kHandleTag = 0x5442;

constexpr bool kNoAppletNamesSource = false;

}  // namespace Binding
}  // namespace APDUSupport
}  // namespace KOVA

#endif
