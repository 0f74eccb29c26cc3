// The token: owns the transport and the current applet; ATR recognition.
#include "applets.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t* const kSource = kInternalSource;

class CToken : public IToken {
public:
    explicit CToken(ISender* sender) : m_applet(new IApplet(nullptr)), m_sender(sender) {}
    ~CToken() override {
        // The applet goes first: its facets may still reach the transport while they are torn down.
        delete m_applet;
        delete m_sender;
    }

    bool checkIfExist(unsigned short id) override { return classOf(id).checkIfExist(transport()); }
    void selectApplet(unsigned short id) override {
        makeCurrent(id);
        m_applet->selectTokenApp();
        m_applet->init();
    }
    void switchToApplet(unsigned short id) override {
        makeCurrent(id);
        m_applet->selectTokenApp();
    }
    void useAsApplet(unsigned short id) override { makeCurrent(id); }
    void switchToFileSystem(unsigned short kind) override { m_applet->switchToFileSystem(kind); }

    IAppFS* fs() override { return m_applet->fs(); }
    IAppPin* pin() override { return m_applet->pin(); }
    IAppInfo* info() override { return m_applet->info(); }
    IAppLabel* label() override { return m_applet->label(); }
    IAppCrypto* crypto() override { return m_applet->crypto(); }
    IAppBio* bio() override { return m_applet->bio(); }
    IAppSession* session() override { return m_applet->session(); }
    ISender* sender() override { return m_sender; }

private:
    ISender* transport() {
        if (!m_sender) LIBAPDU_RAISE(kErrNotSupported);
        return m_sender;
    }
    const AppletClass& classOf(unsigned short id) {
        transport();
        const AppletClass* c = FindAppletClass(id);
        if (!c) LIBAPDU_RAISE(kErrNotSupported);
        return *c;
    }
    void makeCurrent(unsigned short id) {
        IApplet* next = classOf(id).make(m_sender);  // a throwing constructor leaves the current applet
        delete m_applet;
        m_applet = next;
    }

    IApplet* m_applet;
    ISender* m_sender;
};
}  // namespace

IToken::~IToken() = default;

std::unique_ptr<IToken> IToken::create(std::unique_ptr<ISender>& sender) {
    std::unique_ptr<IToken> token(new CToken(sender.get()));
    sender.release();
    return token;
}

CAdapter TokenToAdapter(IToken* token) {
    CAdapter a;
    a.fs = token->fs();
    a.pin = token->pin();
    a.info = token->info();
    a.crypto = token->crypto();
    a.label = token->label();
    return a;
}

// ---------------------------------------------------------------- ATR records

#define FF4 0xFF, 0xFF, 0xFF, 0xFF
#define FF12 FF4, FF4, FF4
#define FF24 FF12, FF12

const TTokenType TTokenType::TVelmoraWren = {1, 1, 0, 6, {0x3B, 0x81, 0x1F, 0x00, 0xCC, 0x52}, {FF4, 0xFF, 0xFF}, 1};
const TTokenType TTokenType::TVelmoraKite16 = {
    1, 2, 1, 12, {0x3B, 0xE2, 0x00, 0xFF, 0xC1, 0x10, 0x31, 0xFE, 0x55, 0xC8, 0x02, 0x9C}, {FF12}, 1};
const TTokenType TTokenType::TVelmoraKite32 = {
    1, 2, 2, 13, {0x3B, 0xF2, 0x98, 0x00, 0xFF, 0xC1, 0x10, 0x31, 0xFE, 0x55, 0xC8, 0x03, 0x15}, {FF12, 0xFF}, 1};
const TTokenType TTokenType::TVelmoraKite42 = {
    1, 2, 3, 13,
    {0x3B, 0xF2, 0x18, 0x00, 0x00, 0xC1, 0x0A, 0x31, 0xFE, 0x55, 0xC8, 0x06, 0x00},
    {0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00}, 1};
const TTokenType TTokenType::TVelmoraKite42b = {
    1, 2, 3, 13, {0x3B, 0xF2, 0x18, 0x00, 0x02, 0xC1, 0x0A, 0x31, 0xFE, 0x58, 0xC8, 0x09, 0x75}, {FF12, 0xFF}, 1};
const TTokenType TTokenType::TVelmoraJava10 = {
    1, 3, 1, 14, {0x3B, 0xD5, 0x18, 0x00, 0x81, 0x31, 0xFE, 0x7D, 0x80, 0x73, 0xC8, 0x21, 0x10, 0xF4},
    {FF12, 0xFF, 0xFF}, 2};
const TTokenType TTokenType::TVelmoraJava10b = {
    1, 3, 2, 14, {0x3B, 0xD5, 0x18, 0x00, 0x81, 0x31, 0x3A, 0x7D, 0x80, 0x73, 0xC8, 0x21, 0x10, 0x30},
    {FF12, 0xFF, 0xFF}, 2};
const TTokenType TTokenType::TMirelTessel = {
    2, 1, 0, 15,
    {0x3B, 0xD5, 0x00, 0xFF, 0x80, 0x91, 0xFE, 0x1F, 0xC3, 0x80, 0x73, 0xC8, 0x21, 0x10, 0x00},
    {0xFF, 0xFF, 0x00, 0xFF, 0xF0, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xF0, 0x00}, 2};
const TTokenType TTokenType::TMirelPellar = {
    2, 2, 1, 22,
    {0x3B, 0xDC, 0x18, 0xFF, 0x81, 0x91, 0xFE, 0x1F, 0xC3, 0x80, 0x73, 0xC8, 0x21, 0x13, 0x66, 0x01, 0x06, 0x11,
     0x59, 0x00, 0x01, 0x28},
    {FF12, FF4, FF4, 0xFF, 0xFF}, 2};
const TTokenType TTokenType::TMirelPellarEMVT0 = {
    2, 2, 3, 16,
    {0x3B, 0x6C, 0x00, 0xFF, 0x80, 0x73, 0xC8, 0x21, 0x13, 0x66, 0x01, 0x06, 0x11, 0x59, 0x00, 0x01},
    {FF12, FF4}, 2};
const TTokenType TTokenType::TMirelPellarEMVT1 = {
    2, 2, 2, 22,
    {0x3B, 0xFC, 0x13, 0x00, 0xFF, 0x81, 0x31, 0xFE, 0x45, 0x80, 0x73, 0xC8, 0x21, 0x13, 0x66, 0x01, 0x06, 0x11,
     0x59, 0x00, 0x01, 0x3A},
    {FF12, FF4, FF4, 0xFF, 0xFF}, 2};
const TTokenType TTokenType::TMirelPellarLT = {
    2, 2, 4, 20,
    {0x3B, 0xDC, 0x18, 0xFF, 0x81, 0x11, 0xFE, 0x80, 0x73, 0xC8, 0x21, 0x13, 0x66, 0x01, 0x06, 0x01, 0x30, 0x80,
     0x01, 0x8D},
    {FF12, FF4, FF4}, 2};
const TTokenType TTokenType::TUnknown = {0, 0, 0, 0, {0}, {0}, 0};

#undef FF24
#undef FF12
#undef FF4

const TTokenType* TTokenType::fromAtr(const TBytes& atr) {
    static const TTokenType* const kOrder[] = {
        &TVelmoraWren,  &TVelmoraKite16, &TVelmoraKite32, &TVelmoraKite42,    &TVelmoraKite42b,   &TVelmoraJava10,
        &TVelmoraJava10b, &TMirelTessel, &TMirelPellar,   &TMirelPellarEMVT0, &TMirelPellarEMVT1, &TMirelPellarLT,
    };
    for (const TTokenType* t : kOrder) {
        if (t->atrLength != atr.size()) continue;
        bool match = true;
        for (size_t i = 0; i < atr.size() && match; ++i) match = ((t->atr[i] ^ atr[i]) & t->mask[i]) == 0;
        if (match) return t;
    }
    return &TUnknown;
}

}  // namespace libapdu
