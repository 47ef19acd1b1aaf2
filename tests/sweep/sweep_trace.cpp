// The system-log reader of the sweep (see sweep_trace.h) and the TC_write_syslog it puts in the
// stand-in's place.
#include "sweep_trace.h"

#include <dlfcn.h>
#include <standin/control.h>

#include <cstdarg>
#include <cstdio>
#include <cstring>

namespace sweep_test {
namespace {

// Reader state: the trace is single-threaded in the sweep, like the platform's calls.
struct Recorder {
    bool on = false;
    int marker = 0;  // 1 after ">>> ", 2 after "<<< ": the next text is the name
    std::vector<TraceEvent> events;
};

Recorder& recorder() {
    static Recorder r;
    return r;
}

const char kPrefix[] = "[KEP] ";
const char kFailureLine[] = "ERROR while processing following statement";

// The function name at the start of an entry or exit text ("name\n", "name  value=[1], ...").
std::string leading_name(const char* text) {
    size_t n = 0;
    while (text[n] != '\0' && text[n] != ' ' && text[n] != '\n') {
        ++n;
    }
    return std::string(text, n);
}

void read_piece(const char* text) {
    Recorder& r = recorder();
    if (std::strcmp(text, kPrefix) == 0 || std::strcmp(text, " ") == 0) {
        return;  // the prefix and the indentation, one blank per call
    }
    const long position = standin::failable_calls();
    if (r.marker != 0) {
        r.events.push_back(
            {r.marker == 1 ? TraceEvent::Enter : TraceEvent::Exit, leading_name(text), position});
        r.marker = 0;
        return;
    }
    if (std::strcmp(text, ">>> ") == 0) {
        r.marker = 1;
    } else if (std::strcmp(text, "<<< ") == 0) {
        r.marker = 2;
    } else if (std::strncmp(text, kFailureLine, sizeof kFailureLine - 1) == 0) {
        r.events.push_back({TraceEvent::Failure, std::string(), position});
    }
}

using SyslogFn = void (*)(const char*, ...);

SyslogFn standin_syslog() {
    static const SyslogFn next = [] {
        void* symbol = dlsym(RTLD_NEXT, "TC_write_syslog");
        SyslogFn fn = nullptr;
        static_assert(sizeof fn == sizeof symbol, "function and object pointers differ in size");
        std::memcpy(&fn, &symbol, sizeof fn);
        return fn;
    }();
    return next;
}

}  // namespace

void start_recording() {
    Recorder& r = recorder();
    r.on = true;
    r.marker = 0;
    r.events.clear();
}

std::vector<TraceEvent> stop_recording() {
    Recorder& r = recorder();
    r.on = false;
    std::vector<TraceEvent> out;
    out.swap(r.events);
    return out;
}

std::vector<Frame> frames_at(const std::vector<TraceEvent>& events, long call) {
    std::vector<Frame> open;
    long id = 0;
    for (const TraceEvent& e : events) {
        if (e.position >= call) {
            break;
        }
        if (e.kind == TraceEvent::Enter) {
            open.push_back({e.name, ++id, e.position});
        } else if (e.kind == TraceEvent::Exit && !open.empty()) {
            open.pop_back();
        }
    }
    return open;
}

}  // namespace sweep_test

// The extension hands every piece over as ("%s", text); anything else is formatted here first.
extern "C" void TC_write_syslog(const char* format, ...) {
    va_list args;
    va_start(args, format);
    const char* text = nullptr;
    char buffer[16384];
    if (format != nullptr && std::strcmp(format, "%s") == 0) {
        text = va_arg(args, const char*);
    } else if (format != nullptr) {
        std::vsnprintf(buffer, sizeof buffer, format, args);
        text = buffer;
    }
    va_end(args);
    if (text == nullptr) {
        text = "";
    }
    if (sweep_test::recorder().on) {
        sweep_test::read_piece(text);
        return;
    }
    if (sweep_test::SyslogFn next = sweep_test::standin_syslog()) {
        next("%s", text);
    }
}
