#include "sim_heron.h"

namespace cardsim {

const SimJavaCommandSet kSimHeronCommands = {
    "heron",
    {0xA0, 0x00, 0x00, 0x04, 0x48, 0x00, 0x04, 0x01},
    0x80, 0x03,  // select
    0x80, 0x0D,  // list
    0x80, 0x09,  // create
    0x80, 0x17,  // set the file length (only the label uses it; the file system offers no resize)
    0x80, 0x01,  // remove
    0x80, 0x1C,  // read
    0x80, 0x1B,  // write
    0x80, 0x1D,  // change marker
    0x80, 0x02,  // GET DATA
    0x80, 0x12,  // GET CHALLENGE
    0x19, 0x00,  // decipher; no key-data command
};

// No unblock; the admin PIN is keyed like every other.
const SimJavaPinCommandSet kSimHeronPinCommands = {0x14, 0x10, 0x18, 0x00, false};

SimHeronApplet::SimHeronApplet() : SimJavaApplet(kSimHeronCommands, kSimHeronPinCommands) {
    info().serial = {0x48, 0x52, 0x4E, 0x00, 0x00, 0x00, 0x42, 0x17};
    info().version = {0x02, 0x01, 0x00, 0x00};
}

}  // namespace cardsim
