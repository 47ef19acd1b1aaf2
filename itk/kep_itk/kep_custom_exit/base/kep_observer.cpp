// The calling thread's observer (kep_observer.h).
#include "base/kep_observer.h"

kep::Observer*& kep::observer_slot() noexcept {
    static thread_local Observer* slot = nullptr;
    return slot;
}

std::atomic<int> kep::g_observing(0);

void kep::tell_failed_call(const char* statement, int status) noexcept {
    observe_call_failed(statement, status);
}

namespace {

class Deaf : public kep::Observer {
public:
    void note(const kep::Note&) noexcept override {}
};

}  // namespace

kep::Observer& kep::deaf_observer() noexcept {
    static Deaf deaf;
    return deaf;
}
