// Exceptions, the raising routine, the transport's default and the shared
// not-supported facets.
#include "libapdu.internal.h"

CAException::CAException(long code, const char* file, const char* date, unsigned long line)
    : m_code(code), m_file(file ? file : ""), m_date(date ? date : ""), m_line(line) {}

CAException::~CAException() = default;

void CAException::RaiseAnError(long code, const char* file, const char* date, unsigned long line) {
    throw CAException(code, file, date, line);
}

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/libapdu");
}

const wchar_t kHeaderSource[] = LIBAPDU_SOURCE("include/libapdu");
const wchar_t kInternalSource[] = LIBAPDU_SOURCE("token/libapdu.internal");

IException::~IException() = default;

CSCardException::CSCardException(long code, const char* file, const char* date, unsigned long line)
    : CAException(code, file, date, line) {}

CSCardException::~CSCardException() = default;

unsigned short CSCardException::code() const { return static_cast<unsigned short>(CAException::code() & 0xFFFF); }

const char* BuildDate() { return __DATE__; }

void ExternalRaise(unsigned short code, const std::wstring& source, unsigned long line) {
    std::string narrow;
    narrow.reserve(source.size());
    for (wchar_t c : source) narrow.push_back(static_cast<char>(static_cast<unsigned int>(c) & 0xFF));
    throw CSCardException(code, narrow.c_str(), BuildDate(), line);
}

void ExternalTrace(const std::wstring&, unsigned long, const std::wstring&) {}

const std::wstring CTraceScope::enter_msg = L"Scope enter: ";
const std::wstring CTraceScope::exit_msg = L"Scope exit: ";

void ISender::control(unsigned int, const TBytes&, TBytes&) { LIBAPDU_RAISE(kErrNotSupported); }
ISender::~ISender() = default;

IAppFS::~IAppFS() = default;
IAppPin::~IAppPin() = default;
IAppInfo::~IAppInfo() = default;
IAppLabel::~IAppLabel() = default;
IAppCrypto::~IAppCrypto() = default;
IAppBio::~IAppBio() = default;
IAppSession::~IAppSession() = default;

const path IAppPin::EmptyPath;
IAppFS IAppFS::stub;
IAppPin IAppPin::stub;
IAppInfo IAppInfo::stub;
IAppLabel IAppLabel::stub;
IAppCrypto IAppCrypto::stub;

}  // namespace libapdu
