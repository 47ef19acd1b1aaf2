/*
 * The logging core: the three switches, the indentation level, the message buffer and the emitter
 * that writes to the console (standard error) and to the platform's system log.
 *
 * All process-wide state lives in this file and is guarded by one mutex, so that a message is
 * formatted and written whole even when the platform calls in from more than one thread (the one
 * exception, an atomic set of the switches known to be off, lets a writer that would write
 * nothing return without the lock). The lock is held from the first to the last piece of one
 * writing operation (kep_start's marker and message form one unit). The indentation level itself
 * stays one process-wide value: the call trees of concurrent threads interleave, but no message is
 * torn or overwritten half-written.
 * Single-threaded output is unaffected by the lock.
 */
#include <atomic>
#include <climits>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "kep_support.h"
#include "kep_support_internal.h"

namespace {

const int kIndentStep = 4;
const int kMessageBufferSize = 10240;  // terminator included
const char kSyslogPrefix[] = "[KEP] ";
const char kIndentUnit[] = " ";
const char kEntryMarker[] = ">>> ";
const char kExitMarker[] = "<<< ";
const char kSwitchOnValue[] = "ON";

struct Switch {
    const char* variable;
    int known;
    int value;
    int off_bit;  // its bit in g_known_off
};

// Switches known to be off, one bit each. A writer that can see from them that it would write
// nothing returns without taking the lock: with the switches off, the lock would otherwise be the
// largest cost of the trace, taken several times for every platform call. A bit is set only under
// the lock, once the switch's value is final, so a set bit is always the truth; a clear bit sends
// the writer the usual way.
const int kConsoleOff = 1;
const int kSyslogOff = 2;
const int kTraceOff = 4;
std::atomic<int> g_known_off(0);

bool known_off(int bits) noexcept { return (g_known_off.load(std::memory_order_acquire) & bits) == bits; }

// Zero-initialised at load time; the mutex is constant-initialised, so no static constructor
// runs before the first call.
std::mutex g_mutex;
// Atomic so that the entry and exit markers can move it without the lock once both outputs are
// known to be off (nothing is written then, so no message can come out at a half-changed level).
std::atomic<int> g_level(0);
char g_message[kMessageBufferSize];
Switch g_console = {"ZODORE_DEBUG", 0, 0, kConsoleOff};
Switch g_syslog = {"ZODORE_SYSLOG", 0, 0, kSyslogOff};
Switch g_trace = {"ZODORE_ITKLOG", 0, 0, kTraceOff};

// Holds g_mutex for a scope. Locking a std::mutex may throw in theory (resource exhaustion);
// nothing may leave the library as an exception, so a failed lock degrades to unguarded output.
class Guard {
public:
    Guard() noexcept {
        try {
            g_mutex.lock();
            locked_ = true;
        } catch (...) {
            locked_ = false;
        }
    }
    ~Guard() {
        if (locked_) {
            g_mutex.unlock();
        }
    }
    Guard(const Guard&) = delete;
    Guard& operator=(const Guard&) = delete;

private:
    bool locked_ = false;
};

// --- everything below expects g_mutex to be held ----------------------------------------------

int read_switch(Switch& s) noexcept {
    if (s.known == 0) {
        const char* value = TC_getenv(s.variable);
        s.value = (value != nullptr && std::strcmp(value, kSwitchOnValue) == 0) ? 1 : 0;
        s.known = 1;
        if (s.value == 0) {
            g_known_off.fetch_or(s.off_bit, std::memory_order_release);
        }
    }
    return s.value;
}

// The level has no bounds by design; the steps saturate at the ends of the integer range so that
// a runaway caller cannot overflow it.
// Safe with or without g_mutex.
void change_level(int delta) noexcept {
    int level = g_level.load(std::memory_order_relaxed);
    int next = 0;
    do {
        if (delta > 0 && level > INT_MAX - delta) {
            next = INT_MAX;
        } else if (delta < 0 && level < INT_MIN - delta) {
            next = INT_MIN;
        } else {
            next = level + delta;
        }
    } while (!g_level.compare_exchange_weak(level, next, std::memory_order_relaxed));
}

// Formats into the message buffer; a message that does not fit is cut to the buffer's size.
void format_message(const char* format, va_list* args) noexcept {
    if (format == nullptr) {
        g_message[0] = '\0';
        return;
    }
    if (args == nullptr) {
        // No argument list: only "%%" has a meaning without arguments; every other conversion
        // is copied as it stands rather than reading arguments that were never passed.
        int out = 0;
        for (const char* p = format; *p != '\0' && out < kMessageBufferSize - 1; ++p) {
            if (p[0] == '%' && p[1] == '%') {
                ++p;
            }
            g_message[out++] = *p;
        }
        g_message[out] = '\0';
        return;
    }
    va_list copy;
    va_copy(copy, *args);
    const int written = std::vsnprintf(g_message, sizeof g_message, format, copy);
    va_end(copy);
    if (written < 0) {
        g_message[0] = '\0';
    }
}

void write_console_blanks(int count) noexcept {
    static const char kBlanks[] = "                                                                ";
    const int chunk = static_cast<int>(sizeof kBlanks) - 1;
    while (count > 0) {
        const int n = count < chunk ? count : chunk;
        std::fwrite(kBlanks, 1, static_cast<size_t>(n), stderr);
        count -= n;
    }
}

// Writes the message buffer to the sinks that are on. `text`, when given, is written instead of
// formatting (the markers); it never passes through a formatter.
void write_sinks(int indent_flag, int console, int syslog, const char* text) noexcept {
    const int level = g_level.load(std::memory_order_relaxed);
    const int blanks = (indent_flag != 0 && level > 0) ? level : 0;
    if (console != 0) {
        write_console_blanks(blanks);
        std::fputs(text, stderr);
    }
    if (syslog != 0) {
        TC_write_syslog("%s", kSyslogPrefix);
        for (int i = 0; i < blanks; ++i) {
            TC_write_syslog("%s", kIndentUnit);
        }
        TC_write_syslog("%s", text);
    }
}

void emit(int indent_flag, const char* format, va_list* args) noexcept {
    // Both output switches are read at the first emitted message, console first.
    const int console = read_switch(g_console);
    const int syslog = read_switch(g_syslog);
    if (console == 0 && syslog == 0) {
        return;  // no sink receives it: formatting is skipped
    }
    format_message(format, args);
    write_sinks(indent_flag, console, syslog, g_message);
}

void emit_text(int indent_flag, const char* text) noexcept {
    const int console = read_switch(g_console);
    const int syslog = read_switch(g_syslog);
    if (console == 0 && syslog == 0) {
        return;
    }
    write_sinks(indent_flag, console, syslog, text);
}

void emit_indented(const char* format, va_list* args) noexcept {
    if (known_off(kConsoleOff | kSyslogOff)) {
        return;
    }
    Guard guard;
    emit(1, format, args);
}

}  // namespace

extern "C" {

int kep_get_log_console_on(void) {
    Guard guard;
    return read_switch(g_console);
}

int kep_get_log_syslog_on(void) {
    Guard guard;
    return read_switch(g_syslog);
}

int kep_get_log_itkexe_on(void) {
    if (known_off(kTraceOff)) {
        return 0;
    }
    Guard guard;
    return read_switch(g_trace);
}

int kep_log_impl(int indent_flag, const char* format, va_list* args) {
    Guard guard;
    emit(indent_flag, format, args);
    return 0;
}

int kep_log(const char* format, ...) {
    va_list args;
    va_start(args, format);
    emit_indented(format, &args);
    va_end(args);
    return 0;
}

int kep_log_to(const char* format, ...) {
    va_list args;
    va_start(args, format);
    emit_indented(format, &args);
    va_end(args);
    return 0;
}

int kep_log_itkexe(const char* format, ...) {
    if (known_off(kTraceOff)) {
        return 0;
    }
    Guard guard;
    if (read_switch(g_trace) == 0) {
        return 0;
    }
    va_list args;
    va_start(args, format);
    emit(1, format, &args);
    va_end(args);
    return 0;
}

int kep_start(const char* format, ...) {
    if (known_off(kConsoleOff | kSyslogOff)) {
        change_level(kIndentStep);  // nothing to write: only the level moves
        return 0;
    }
    Guard guard;
    emit_text(1, kEntryMarker);
    va_list args;
    va_start(args, format);
    emit(0, format, &args);
    va_end(args);
    change_level(kIndentStep);
    return 0;
}

int kep_end(const char* format, ...) {
    if (known_off(kConsoleOff | kSyslogOff)) {
        change_level(-kIndentStep);
        return 0;
    }
    Guard guard;
    change_level(-kIndentStep);
    emit_text(1, kExitMarker);
    va_list args;
    va_start(args, format);
    emit(0, format, &args);
    va_end(args);
    return 0;
}

int kep_indent(void) {
    Guard guard;
    change_level(kIndentStep);
    return 0;
}

int kep_outdent(void) {
    Guard guard;
    change_level(-kIndentStep);
    return 0;
}

int kep_logging_on(void) {
    Guard guard;
    if (read_switch(g_console) != 0) {
        return 1;
    }
    return read_switch(g_syslog) != 0 ? 1 : 0;
}

int kep_log_error_stack(void) {
    int count = 0;
    const int* severities = nullptr;
    const int* codes = nullptr;
    const char** texts = nullptr;
    const int status = EMH_ask_errors(&count, &severities, &codes, &texts);
    if (status != 0) {
        kep_log("Error [%d] occured while displaying error stack\n", status);
        return 0;
    }
    // The arrays are the platform's and are only read. A count without arrays is read as empty.
    if (count < 0 || severities == nullptr || codes == nullptr || texts == nullptr) {
        count = 0;
    }
    kep_log_to("ERROR stack:\n");
    for (int i = 0; i < count; ++i) {
        kep_log_to("error[%d]:\n", i);
        kep_indent();
        switch (severities[i]) {
            case EMH_severity_error:
                kep_log_to("severity=[ERROR]\n");
                break;
            case EMH_severity_warning:
                kep_log_to("severity=[WARNING]\n");
                break;
            case EMH_severity_information:
                kep_log_to("severity=[INFORMATION]\n");
                break;
            default:
                kep_log_to("severity=[?]\n");
                break;
        }
        kep_log_to("code=[%d]\n", codes[i]);
        kep_log_to("text=[%s]\n", texts[i] != nullptr ? texts[i] : "");
        kep_outdent();
    }
    return 0;
}

void kep_support_reset_state(void) {
    Guard guard;
    g_level.store(0, std::memory_order_relaxed);
    g_message[0] = '\0';
    g_console.known = g_console.value = 0;
    g_syslog.known = g_syslog.value = 0;
    g_trace.known = g_trace.value = 0;
    g_known_off.store(0, std::memory_order_release);
}

int kep_support_indent_level(void) {
    Guard guard;
    return g_level.load(std::memory_order_relaxed);
}

}  // extern "C"
