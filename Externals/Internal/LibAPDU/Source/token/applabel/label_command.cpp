#include "label_command.h"

namespace libapdu LIBAPDU_API {

namespace {
const wchar_t kSource[] = LIBAPDU_SOURCE("token/applabel/label_command");

const size_t kWriteCapacity = 2;
const unsigned char kPad = 0x20;
const size_t kMaxLengthByte = 0xFF;
}  // namespace

CLabelByCommand::CLabelByCommand(IApplet* applet, const Commands& commands)
    : CLabelCommon(applet), m_commands(commands) {}

CLabelByCommand::~CLabelByCommand() = default;

int CLabelByCommand::encoding() { return kEncodingLocale; }

TBytes CLabelByCommand::exchange(const TBytes& command, size_t capacity) {
    TBytes response(capacity, 0);
    m_applet->sender()->send(command, response);
    // No error facet is a fault of the applet's set-up: FACE, after the command went out.
    IAppError* error = m_applet->error();
    error->raiseSW(error->extractSW(response));
    response.resize(ResponseDataSize(response));
    return response;
}

TBytes CLabelByCommand::read() {
    TBytes label = exchange(m_commands.read, m_commands.readCapacity);
    if (m_commands.dropFirstByte && !label.empty()) label.erase(label.begin());
    // The card pads the label with spaces; other trailing bytes are the label's own.
    while (!label.empty() && label.back() == kPad) label.pop_back();
    return label;
}

void CLabelByCommand::write(const TBytes& label) {
    // The length travels in one byte: a longer label would go out with a wrapped
    // length and the card would store something else than was asked.
    if (label.size() > kMaxLengthByte) LIBAPDU_RAISE(kSwBadArgument);
    TBytes command = m_commands.writeHeader;
    command.push_back(static_cast<unsigned char>(label.size()));
    command.insert(command.end(), label.begin(), label.end());
    command.insert(command.end(), m_commands.writeTrailer.begin(), m_commands.writeTrailer.end());
    exchange(command, kWriteCapacity);
}

}  // namespace libapdu
