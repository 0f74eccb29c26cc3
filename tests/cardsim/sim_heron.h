// Card side of the Heron applet: the Java applet's file system, information
// objects and change marker behind other class and instruction bytes. Note
// that 80 1B writes on Heron while it is the change marker on Java.
#ifndef CARDSIM_SIM_HERON_H
#define CARDSIM_SIM_HERON_H

#include "sim_java.h"

namespace cardsim {

extern const SimJavaCommandSet kSimHeronCommands;
extern const SimJavaPinCommandSet kSimHeronPinCommands;

class SimHeronApplet : public SimJavaApplet {
public:
    SimHeronApplet();
};

}  // namespace cardsim

#endif
