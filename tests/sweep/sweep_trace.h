// The shape of a run, read from the diagnostics the extension writes to the system log.
//
// This program replaces TC_write_syslog (the stand-in's is reached through the dynamic linker
// for everything else): while a recording is on, the pieces the extension hands over are not
// written to the stand-in's system log but read for three things only, each stamped with the
// number of failable platform calls made so far (standin::failable_calls()):
//   - entry lines (">>> name"): a function of the extension starts;
//   - exit lines ("<<< name ..."): it ends;
//   - failure blocks ("ERROR while processing following statement"): a traced call failed.
// With ZODORE_SYSLOG on, this gives, for every platform call of a run, the functions of the
// extension that were open when it was made, without the cost of formatting the whole log.
// Outside a recording the pieces go to the stand-in's system log as they came.
#ifndef SWEEP_TRACE_H
#define SWEEP_TRACE_H

#include <string>
#include <vector>

namespace sweep_test {

struct TraceEvent {
    enum Kind { Enter, Exit, Failure };
    Kind kind;
    std::string name;  // the function name (Enter, Exit); empty for Failure
    long position;     // failable calls made before the line was written
};

void start_recording();
std::vector<TraceEvent> stop_recording();

// One open function of the extension at some point of a run.
struct Frame {
    std::string name;
    long id = 0;       // running number of the entry line, unique within a run
    long entered = 0;  // position of the entry line
};

// The functions open just before failable call number `call` (1-based): the entry lines written
// before it whose exit lines come after it, outermost first. A failure is written after its call,
// so it does not count for the call itself.
std::vector<Frame> frames_at(const std::vector<TraceEvent>& events, long call);

}  // namespace sweep_test

#endif
