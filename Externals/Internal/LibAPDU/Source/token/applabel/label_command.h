// The base of the label facets that keep the label behind the applet's own
// read and write commands instead of in a card file. The card judges the label:
// the facet sends it unchanged and passes the status word through the error facet.
#ifndef LIBAPDU_LABEL_COMMAND_H
#define LIBAPDU_LABEL_COMMAND_H

#include "label_common.h"

namespace libapdu LIBAPDU_API {

class CLabelByCommand : public CLabelCommon {
public:
    ~CLabelByCommand() override;

    TBytes read() override;
    void write(const TBytes& label) override;
    int encoding() override;

protected:
    struct Commands {
        TBytes read;          // the whole read command
        size_t readCapacity;  // the response buffer handed to the transport
        bool dropFirstByte;   // the reply starts with a byte that is not the label's
        TBytes writeHeader;   // CLA INS P1 P2; the length byte and the label follow
        TBytes writeTrailer;  // bytes after the label, if the applet wants any
    };
    CLabelByCommand(IApplet* applet, const Commands& commands);

private:
    TBytes exchange(const TBytes& command, size_t capacity);

    Commands m_commands;
};

}  // namespace libapdu

#endif
