// Information facet of the DataStore applet: its status record, and the memory
// figures of the card's platform applet where it has one.
#ifndef LIBAPDU_INFO_DATASTORE_H
#define LIBAPDU_INFO_DATASTORE_H

#include "info_common.h"

namespace libapdu LIBAPDU_API {

class CInfoDataStore : public CInfoCommon {
public:
    explicit CInfoDataStore(IApplet* applet);
    ~CInfoDataStore() override;

    TBytes rnd(size_t n) override;
    bool isFips() override;
    TBytes version(unsigned char kind) override;
    TBytes id(unsigned char kind) override;
    unsigned int color() override;
    unsigned int memoryFree() override;
    unsigned int memoryTotal() override;

    // The status record: 30 bytes, or 34 with a 32-bit free-memory figure at its end.
    TBytes get_status();
};

}  // namespace libapdu

#endif
