#include "label_kite.h"

#include "crypto/crypto.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/applabel/label_kite");

const path kFipsLabel = {0x3F00, 0x6666, 0x5000, 0x0002};
const path kUtf8Label = {0x3F00, 0x6666, 0x1000, 0x0005};
const path kLegacyLabel = {0x3F00, 0x6666, 0x1000, 0x0002};
const path kChangeMarker = {0x3F00, 0x6666, 0x0001};
const size_t kMarkerSize = 16;

TBytes LegacyToUtf8(const TBytes& legacy) {
    return IConv::str2bytes(IConv::wchar2utf8(IConv::char2wchar(IConv::bytes2str(legacy))));
}

TBytes Utf8ToLegacy(const TBytes& utf8) {
    return IConv::str2bytes(IConv::wchar2char(IConv::utf82wchar(IConv::bytes2str(utf8))));
}
}  // namespace

CLabelKite::CLabelKite(IApplet* applet) : CLabelCommon(applet) {}

CLabelKite::~CLabelKite() = default;

int CLabelKite::encoding() { return kEncodingUtf8; }

TBytes CLabelKite::read() {
    if (m_applet->info()->isFips()) {
        fs()->select(kFipsLabel);
        return FileRead(adapter());
    }
    try {
        fs()->select(kUtf8Label);
        return FileRead(adapter());
    } catch (const IException&) {
        // Tokens written by older software have only the legacy label file.
    }
    fs()->select(kLegacyLabel);
    return LegacyToUtf8(FileRead(adapter()));
}

void CLabelKite::write(const TBytes& label) {
    // Converted first, on FIPS tokens too, so that a label that older software
    // could not show is refused on every token alike.
    TBytes legacy;
    try {
        legacy = Utf8ToLegacy(label);
    } catch (const IException&) {
        LIBAPDU_RAISE(kSwBadAnswer);
    }
    if (label.size() > kMaxLabel) LIBAPDU_RAISE(kSwBadArgument);
    if (legacy.size() > kMaxLabel) LIBAPDU_RAISE(kSwBadArgument);

    TBytes utf8 = label;
    utf8.resize(kMaxLabel, 0x00);
    // Older software reads the legacy form as a C string: it always ends in 00.
    legacy.resize(kMaxLabel - 1, 0x00);
    legacy.push_back(0x00);

    const bool fips = m_applet->info()->isFips();
    IAppFS* f = fs();
    if (fips) {
        f->select(kFipsLabel);
        f->write(utf8, 0);
    } else {
        f->select(kUtf8Label);
        f->write(utf8, 0);
        f->select(kLegacyLabel);
        f->write(legacy, 0);
    }
    volatile_update();
}

void CLabelKite::volatile_update() {
    try {
        TBytes marker(kMarkerSize, 0);
        crypto_random(marker.data(), marker.size());
        IAppFS* f = fs();
        f->select(kChangeMarker);
        f->write(marker, 0);
    } catch (const IException&) {
        // The label is written; a marker that could not be renewed must not undo that.
    }
}

}  // namespace libapdu
