#include "applets.h"

#include "applet_heron.h"
#include "applet_java.h"
#include "applet_tessel.h"
#include "applet_zudezozud.h"

namespace libapdu {

namespace {
template <class A> IApplet* Make(ISender* s) { return new A(s); }
template <class A> constexpr AppletClass Entry(unsigned short id) { return {id, &Make<A>, &A::checkIfExist}; }

const AppletClass kApplets[] = {
    Entry<CAppletJava>(0x2001),
    Entry<CAppletJavaManager>(0x2002),
    Entry<CAppletTessel>(0x2101),
    Entry<CAppletZudezoZud>(0x2203),
    Entry<CAppletHeron>(0x2204),
};
}  // namespace

const AppletClass* FindAppletClass(unsigned short id) {
    for (const AppletClass& c : kApplets)
        if (c.id == id) return &c;
    return nullptr;
}

}  // namespace libapdu
