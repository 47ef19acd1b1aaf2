// The fuzz entries: each takes one input of arbitrary bytes, feeds it to one reader of the system
// and checks what must hold whatever the input. They return null when all is well, else a text
// that says what went wrong. The libFuzzer targets (fuzz_<name>.cpp) abort on such a text; the
// corpus replay of the ordinary test run (tests/hostile) reports it as a test failure.
#ifndef KEP_FUZZ_H
#define KEP_FUZZ_H

#include <cstddef>
#include <cstdint>

namespace kep_fuzz {

// kep_matrix_from_string on the input as a text, then the text form written back and read again.
const char* matrix_text(const uint8_t* data, size_t size);

// kep_alt_rep_suffix on the input as a dataset name, against a plain restatement of the rule.
const char* alt_rep_suffix(const uint8_t* data, size_t size);

// standin::load_site on the input as a site file.
const char* site_loader(const uint8_t* data, size_t size);

// One call of a spatial search service over a fixed site (the fault sweep's), with the arguments
// the input spells: a byte for the service (even: volume, odd: neighbourhood search), a byte for
// the number of arguments (mod 6), then per argument a kind byte (mod 4: tag, double, array of
// doubles, array of tags) and its value: a tag is one byte (below 12: an id of a fixed list, the
// window "w1" first; below 200: any id of the site; else four more bytes, any value at all), a
// double eight bytes (big-endian IEEE bits), an array a count byte (mod 9) and its elements.
const char* services(const uint8_t* data, size_t size);

// The entries by corpus folder name; null for an unknown name.
using Entry = const char* (*)(const uint8_t*, size_t);
Entry entry_named(const char* name);

}  // namespace kep_fuzz

#endif
