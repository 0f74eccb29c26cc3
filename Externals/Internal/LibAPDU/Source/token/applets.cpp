#include "applets.h"

#include "applet_datastore.h"
#include "applet_gost.h"
#include "applet_gost2.h"
#include "applet_heron.h"
#include "applet_java.h"
#include "applet_kite.h"
#include "applet_tessel.h"
#include "applet_wren.h"
#include "applet_zudezozud.h"

namespace libapdu LIBAPDU_API {

namespace {
template <class A> IApplet* Make(ISender* s) { return new A(s); }
template <class A> constexpr AppletClass Entry(unsigned short id) { return {id, &Make<A>, &A::checkIfExist}; }

const AppletClass kApplets[] = {
    Entry<CAppletWren>(0x1001),
    Entry<CAppletKite>(0x1002),
    Entry<CAppletJava>(0x2001),
    Entry<CAppletJavaManager>(0x2002),
    Entry<CAppletTessel>(0x2101),
    Entry<CAppletGost>(0x2202),
    Entry<CAppletZudezoZud>(0x2203),
    Entry<CAppletHeron>(0x2204),
    Entry<CAppletDataStore>(0x2205),
    Entry<CAppletGost2>(0x2206),
};
}  // namespace

const AppletClass* FindAppletClass(unsigned short id) {
    for (const AppletClass& c : kApplets)
        if (c.id == id) return &c;
    return nullptr;
}

}  // namespace libapdu
