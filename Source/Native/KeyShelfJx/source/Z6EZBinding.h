// What libKeyShelfJx binds: its transport, its Java class, the exception thrown for
// a failure that is not a card error, and the code of a token with no applet. The
// entry points, the exception processor and the token module are compiled once per
// deliverable against one such header (named by KEYSHELF_BINDING).
#ifndef KEYSHELF_Z6EZBINDING_H
#define KEYSHELF_Z6EZBINDING_H

#include "Z6EZSender.h"

#define KEYSHELF_NATIVE(name) Java_io_keyshelf_pellar_zudezozud_zid_z6ez_KeyShelfJx_##name

namespace KOVA {
namespace APDUSupport {
namespace Binding {

using Transport = Z6EZSender;

constexpr char kModuleFile[] = "Source/Native/KeyShelfJx/source/APDUTokenModule";
constexpr wchar_t kModuleSource[] = L"Source/Native/KeyShelfJx/source/APDUTokenModule";
constexpr wchar_t kEntrySource[] = L"Source/Native/KeyShelfJx/source/KeyShelf";

constexpr char kUnknownErrorClass[] = "java/io/IOException";

// No applet answered the probe: a general error, raised with no source name.
constexpr unsigned short kNoAppletCode = 0xFFFF;
// Top 16 bits of every token handle ("JX"): a handle of one deliverable never names
// a token of the other when both are loaded in one process.
constexpr unsigned short kHandleTag = 0x4A58;

constexpr bool kNoAppletNamesSource = false;

}  // namespace Binding
}  // namespace APDUSupport
}  // namespace KOVA

#endif
