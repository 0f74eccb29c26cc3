// Error facets of the applet families: each translates its proprietary status
// words and hands the result to the base table of IAppError.
#ifndef LIBAPDU_APPERROR_H
#define LIBAPDU_APPERROR_H

#include "libapdu.h"

namespace libapdu LIBAPDU_API {

class CErrorWren : public IAppError {
public:
    unsigned short extractSW(const TBytes& response) override;  // low byte first
    void raiseSW(unsigned short sw) override;
};

class CErrorKite : public IAppError {
public:
    void raiseSW(unsigned short sw) override;
};

class CErrorJava : public IAppError {
public:
    void raiseSW(unsigned short sw) override;
};

class CErrorHeron : public IAppError {
public:
    void raiseSW(unsigned short sw) override;
};

class CErrorTessel : public IAppError {
public:
    void raiseSW(unsigned short sw) override;
};

class CErrorDataStore : public IAppError {
public:
    void raiseSW(unsigned short sw) override;
};

class CErrorGost : public IAppError {
public:
    void raiseSW(unsigned short sw) override;
};

class CErrorGost2 : public IAppError {
public:
    void raiseSW(unsigned short sw) override;
};

}  // namespace libapdu

#endif
