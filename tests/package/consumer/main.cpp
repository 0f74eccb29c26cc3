// Uses the installed library through its public header: a conversion and the
// library's own exception, caught across the library boundary.
#include <libapdu.h>

#include <cstdio>

int main() {
    if (libapdu::base64_encode({0x01, 0x02, 0x03}) != "AQID") return 1;
    try {
        libapdu::ExternalRaise(0x6A82, L"consumer", 1);
    } catch (const libapdu::IException& e) {
        if (e.code() != 0x6A82) return 2;
        std::puts("ok");
        return 0;
    }
    return 3;
}
