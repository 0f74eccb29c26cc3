// What libKeyShelf binds: the OpenCard Framework transport, the Java class
// io.keyshelf.corvid.zudezozud.zid.KeyShelf, the framework's CardServiceException
// for a failure that is not a card error, and 6400 for a token with no applet.
#ifndef KEYSHELF_OCFBINDING_H
#define KEYSHELF_OCFBINDING_H

#include "OCFSender.h"

#define KEYSHELF_NATIVE(name) Java_io_keyshelf_corvid_zudezozud_zid_KeyShelf_##name

namespace KOVA {
namespace APDUSupport {
namespace Binding {

using Transport = OCFSender;

constexpr char kModuleFile[] = "Source/Native/KeyShelf/source/APDUTokenModule";
constexpr wchar_t kModuleSource[] = L"Source/Native/KeyShelf/source/APDUTokenModule";
constexpr wchar_t kEntrySource[] = L"Source/Native/KeyShelf/source/KeyShelf";

constexpr char kUnknownErrorClass[] = "opencard/core/service/CardServiceException";

// No applet answered the probe: reported to Java as "Not enough storage space".
constexpr unsigned short kNoAppletCode = 0x6400;
// Top 16 bits of every token handle ("KS"): a handle of one deliverable never names
// a token of the other when both are loaded in one process.
constexpr unsigned short kHandleTag = 0x4B53;

constexpr bool kNoAppletNamesSource = true;

}  // namespace Binding
}  // namespace APDUSupport
}  // namespace KOVA

#endif
