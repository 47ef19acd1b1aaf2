/*
 * The spatial search user services. Not offered yet: registration succeeds without registering
 * a service.
 */
#include "kep_registration.h"
#include "kep_trace.h"

extern "C" int kep_register_userservice_methods(void) {
    kep::FunctionTrace trace("kep_register_userservice_methods");
    return 0;
}
