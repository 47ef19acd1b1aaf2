/*
 * The spatial search user services and their registration.
 *
 * kep_userservice_volume_search (window, distance in mm, six doubles x1 y1 z1 x2 y2 z2) and
 * kep_userservice_neighbourhood_search (window, distance in mm, selected lines) collect every line
 * of the window that has a box, let x7ComputeNeighbourhood test the overlaps, and hand the lines
 * found back to the platform as an array of tags, each line once, in the order in which it was
 * first reported. The distance is turned into the units of the boxes by a factor of 0.001.
 *
 * Statuses: the first failing platform status; 1 when memory for a work list cannot be obtained.
 * A failure of an argument operation ends the service before the search; a failure of the walk
 * still lets the search run over the lines collected, but nothing is handed over then.
 *
 * Malformed requests end with status 0, no search and nothing handed over, as a query box of
 * another count than six or an empty selection do: a distance or box value that is not finite
 * (NaN or infinite; every overlap comparison with a NaN comes out "not separated", so such a box
 * would report every line), or an argument array that the platform hands out as null. Corners
 * in the wrong order are used as they come: a box inverted along an axis has a negative half
 * extent there and reaches less far, it is not reordered. A window tag that names nothing fails
 * in the walk with the platform's status; a window without a top line finds nothing. Selected
 * tags that name nothing, no line, or a line of another window are not in the window's list and
 * contribute nothing.
 *
 * Each service answers the platform's questions of one search at most once (lookup/kep_memo.h).
 *
 * Nothing allocated here outlives the call: the result list is copied by
 * USERSERVICE_return_tag_array and released right after, and the argument arrays stay the
 * platform's.
 */
#include <limits.h>
#include <string.h>

#include <cmath>

#include "base/kep_status.h"
#include "geometry/kep_geometry.h"
#include "kep_mem.h"
#include "kep_trace.h"
#include "lookup/kep_memo.h"
#include "registration/kep_explain_keep.h"
#include "registration/kep_registration.h"

extern "C" {
/* The two services, in the platform's user-service form; registered by name, not exported. */
int kep_userservice_volume_search(void* return_value);
int kep_userservice_neighbourhood_search(void* return_value);
}

namespace kep {
// The last position of each of the count wanted tags in tags[0 .. n - 1], -1 for a tag that is
// not there, found through the index that the neighbourhood search uses. Returns 0, or 1 when
// the index cannot be built. For tests of the index; the services do not call it.
int services_last_positions(const tag_t* tags, int n, const tag_t* wanted, int count,
                            int* positions) noexcept;
}  // namespace kep

namespace {

using kep::kMillimetresToBoxUnits;
using kep::kNoMemory;

// The platform's user-service type codes.
const int kTypeDouble = USERARG_DOUBLE_TYPE;                            // 3
const int kTypeTag = USERARG_TAG_TYPE;                                  // 9
const int kTypeDoubleArray = USERARG_ARRAY_TYPE + USERARG_DOUBLE_TYPE;  // 103
const int kTypeTagArray = USERARG_ARRAY_TYPE + USERARG_TAG_TYPE;        // 109

const int kQueryBoxValues = 6;
// The status of a walk the guard rule left unmade.
const int kNotWalked = -1;

// A MEM_alloc block for n records of T; null when n is not positive or the size does not fit the
// allocator's int.
template <class T>
T* alloc_records(int n) noexcept {
    return n > 0 ? kep::mem_alloc_array<T>(n) : nullptr;
}

// The object list and the tag list of the walk. Owns both arrays and every record in the object
// list, the spare slot's included.
class WindowLines {
public:
    WindowLines() noexcept = default;
    ~WindowLines() {
        release_records();
        kep::mem_free(objects_);
        kep::mem_free(tags_);
    }
    WindowLines(const WindowLines&) = delete;
    WindowLines& operator=(const WindowLines&) = delete;

    int* count_out() noexcept { return &count_; }
    kep_object3d_t*** objects_out() noexcept { return &objects_; }
    tag_t** tags_out() noexcept { return &tags_; }

    // Number of lines with a box (the spare slot not counted).
    int count() const noexcept { return objects_ != nullptr && tags_ != nullptr ? count_ : 0; }
    kep_object3d_t** objects() const noexcept { return objects_; }
    tag_t tag(int position) const noexcept { return tags_[position]; }
    const tag_t* tags() const noexcept { return tags_; }
    // Takes over the query object into the spare slot at position count().
    void put_spare(kep_object3d_t* object) noexcept { objects_[count_] = object; }

    // Frees every record, spare slot included, and sets the slots to null; the arrays stay.
    void release_records() noexcept {
        if (objects_ == nullptr) {
            return;
        }
        for (int i = 0; i <= count_; ++i) {
            kep::mem_free(objects_[i]);
            objects_[i] = nullptr;
        }
    }

private:
    int count_ = 0;
    kep_object3d_t** objects_ = nullptr;
    tag_t* tags_ = nullptr;
};

// Positions in the object list, each at most once, in the order of their first adding. A byte
// per position tells whether it is in already, so adding costs the same however long the list.
class FoundList {
public:
    FoundList() noexcept = default;
    FoundList(const FoundList&) = delete;
    FoundList& operator=(const FoundList&) = delete;

    // Room for positions 0 .. n - 1. False when the memory cannot be obtained.
    bool init(int n) noexcept {
        positions_.reset(alloc_records<int>(n));
        seen_.reset(alloc_records<unsigned char>(n));
        if (!positions_ || !seen_) {
            return false;
        }
        memset(seen_.get(), 0, static_cast<size_t>(n));
        n_ = n;
        return true;
    }
    // Appends position unless it is in already (or outside the list).
    void add(int position) noexcept {
        if (position < 0 || position >= n_ || seen_[position] != 0) {
            return;
        }
        seen_[position] = 1;
        positions_[count_++] = position;
    }
    int count() const noexcept { return count_; }
    int operator[](int k) const noexcept { return positions_[k]; }

private:
    kep::MemPtr<int> positions_;
    kep::MemPtr<unsigned char> seen_;
    int n_ = 0;
    int count_ = 0;
};

// From a line tag to the last position at which it stands in the tag list: open addressing with
// linear probing in a table at most half full, built once per search.
class TagIndex {
public:
    TagIndex() noexcept = default;
    TagIndex(const TagIndex&) = delete;
    TagIndex& operator=(const TagIndex&) = delete;

    // False when the memory cannot be obtained.
    bool build(const tag_t* tags, int n) noexcept {
        int bits = 1;
        while (bits < 30 && (1 << bits) < 2 * static_cast<long long>(n)) {
            ++bits;
        }
        if ((1LL << bits) < 2 * static_cast<long long>(n)) {
            return false;
        }
        const int capacity = 1 << bits;
        slots_.reset(alloc_records<Slot>(capacity));
        if (!slots_) {
            return false;
        }
        for (int i = 0; i < capacity; ++i) {
            slots_[i].position = -1;
        }
        shift_ = 32 - bits;
        mask_ = static_cast<unsigned>(capacity - 1);
        for (int position = 0; position < n; ++position) {
            // A later position of the same tag replaces the earlier one: the last match wins.
            slot_for(tags[position]).position = position;
        }
        return true;
    }
    // The last position of tag, or -1 when the tag is not in the list.
    int find(tag_t tag) const noexcept {
        if (!slots_) {
            return -1;
        }
        for (unsigned i = home(tag);; i = (i + 1) & mask_) {
            const Slot& slot = slots_[static_cast<int>(i)];
            if (slot.position < 0) {
                return -1;
            }
            if (slot.tag == tag) {
                return slot.position;
            }
        }
    }

private:
    struct Slot {
        tag_t tag;
        int position;  // -1: empty
    };

    // Fibonacci hashing: the top bits of the product spread tags that are handed out in sequence.
    unsigned home(tag_t tag) const noexcept {
        return static_cast<unsigned>((static_cast<unsigned long long>(tag) * 2654435769ULL) &
                                     0xffffffffULL) >>
               shift_;
    }
    // The slot that holds tag, or the empty slot where it goes (the table is never full).
    Slot& slot_for(tag_t tag) noexcept {
        unsigned i = home(tag);
        while (slots_[static_cast<int>(i)].position >= 0 && slots_[static_cast<int>(i)].tag != tag) {
            i = (i + 1) & mask_;
        }
        Slot& slot = slots_[static_cast<int>(i)];
        slot.tag = tag;
        return slot;
    }

    kep::MemPtr<Slot> slots_;
    int shift_ = 31;
    unsigned mask_ = 0;
};

// The window and the distance, the first two arguments of both services, with their messages.
// delta_value is the distance as received, in millimetres.
void fetch_window_and_distance(kep::Step& step, tag_t& bom_window_tag, double& delta_value) noexcept {
    step.call("USERARG_get_tag_argument(&bom_window_tag)",
              [&] { return USERARG_get_tag_argument(&bom_window_tag); });
    kep_log("bom_window_tag: [%d]\n", static_cast<int>(bom_window_tag));
    step.call("USERARG_get_double_argument(&delta_value)",
              [&] { return USERARG_get_double_argument(&delta_value); });
    kep_log("delta_value in mm[%e]\n", delta_value);
}

// Every line of the window with a box, with its message. A failure of the walk is latched; the
// lines handed out before it are kept and searched all the same.
void collect_lines(kep::Step& step, tag_t bom_window_tag, WindowLines& lines) noexcept {
    int* num_object3d = lines.count_out();
    kep_object3d_t*** object3d_list = lines.objects_out();
    tag_t** tag_list = lines.tags_out();
    // A caller that draws the search may have asked for its walk to be kept for the window's account.
    kep::explain::WalkKeeper keeper(bom_window_tag);
    int walked = kNotWalked;
    step.call("kep_get_lines_with_bbox(bom_window_tag,&num_object3d,&object3d_list,&tag_list)", [&] {
        walked = kep_get_lines_with_bbox(bom_window_tag, num_object3d, object3d_list, tag_list);
        return walked;
    });
    keeper.keep(walked, lines.count(), lines.tags(), lines.objects());
    kep_log("found [%d] objects with bbox\n", lines.count());
}

// Builds the result list from the found positions and, when nothing has failed, hands it to the
// platform, which keeps a copy. The list itself is released in either case.
void hand_over(kep::Step& step, const FoundList& found, const WindowLines& lines,
               void* return_value) noexcept {
    if (found.count() == 0) {
        return;
    }
    const int num_result = found.count();
    kep::MemPtr<tag_t> result_tag_list(alloc_records<tag_t>(num_result));
    if (!result_tag_list) {
        step.latch(kNoMemory);
        return;
    }
    for (int k = 0; k < num_result; ++k) {
        result_tag_list[k] = lines.tag(found[k]);
    }
    step.call("USERSERVICE_return_tag_array(result_tag_list,num_result,(USERSERVICE_array_t *)return_value)",
              [&] {
                  return USERSERVICE_return_tag_array(result_tag_list.get(), num_result,
                                                      static_cast<USERSERVICE_array_t*>(return_value));
              });
}

bool all_finite(const double* values, int count) noexcept {
    for (int i = 0; i < count; ++i) {
        if (!std::isfinite(values[i])) {
            return false;
        }
    }
    return true;
}

int volume_search(void* return_value) noexcept {
    kep::CallScope scope;
    kep::FunctionTrace trace("kep_userservice_volume_search");
    kep::Step step;
    tag_t bom_window_tag = NULLTAG;
    double delta_value = 0.0;
    int num_doubles_bb = 0;
    double* doubles_bb = nullptr;  // the platform's

    fetch_window_and_distance(step, bom_window_tag, delta_value);
    const double delta = delta_value * kMillimetresToBoxUnits;
    step.call("USERARG_get_double_array_argument(&num_doubles_bb,&doubles_bb)",
              [&] { return USERARG_get_double_array_argument(&num_doubles_bb, &doubles_bb); });
    kep_log("num_doubles_bb [%d]\n", num_doubles_bb);
    if (!step.ok() || num_doubles_bb != kQueryBoxValues) {
        return step.status();
    }
    if (doubles_bb == nullptr || !std::isfinite(delta) || !all_finite(doubles_bb, kQueryBoxValues)) {
        kep_log("distance or query box not usable, no search\n");
        return 0;
    }

    WindowLines lines;
    collect_lines(step, bom_window_tag, lines);
    const int n = lines.count();
    if (n == 0) {
        return step.status();
    }

    if (n == INT_MAX) {  // no room for the query object behind the lines
        step.latch(kNoMemory);
        return step.status();
    }
    FoundList found;
    kep::MemPtr<kep_object3d_t> query(alloc_records<kep_object3d_t>(1));
    kep::MemPtr<int> results(alloc_records<int>(n + 1));
    if (!found.init(n) || !query || !results) {
        step.latch(kNoMemory);
        return step.status();
    }
    // The query box with identity orientation, in the spare slot: it is searched as object n.
    kep_query_object(doubles_bb, query.get());
    lines.put_spare(query.release());

    // Its status only says whether some line had no box; every line here has one.
    int result_count = 0;
    (void)x7ComputeNeighbourhood(n, n + 1, delta, lines.objects(), results.get(), &result_count);
    for (int k = 0; k < result_count; ++k) {
        found.add(results[k]);
    }
    results.reset();
    lines.release_records();

    hand_over(step, found, lines, return_value);
    return step.status();
}

int neighbourhood_search(void* return_value) noexcept {
    kep::CallScope scope;
    kep::FunctionTrace trace("kep_userservice_neighbourhood_search");
    kep::Step step;
    tag_t bom_window_tag = NULLTAG;
    double delta_value = 0.0;
    int num_selected_bom_lines = 0;
    tag_t* selected_bom_lines = nullptr;  // the platform's

    fetch_window_and_distance(step, bom_window_tag, delta_value);
    const double delta = delta_value * kMillimetresToBoxUnits;
    step.call("USERARG_get_tag_array_argument(&num_selected_bom_lines,&selected_bom_lines)",
              [&] { return USERARG_get_tag_array_argument(&num_selected_bom_lines, &selected_bom_lines); });
    kep_log("num_selected_bom_lines [%d]\n", num_selected_bom_lines);
    if (!step.ok() || num_selected_bom_lines < 1) {
        return step.status();
    }
    if (selected_bom_lines == nullptr || !std::isfinite(delta)) {
        kep_log("distance or selection not usable, no search\n");
        return 0;
    }

    WindowLines lines;
    collect_lines(step, bom_window_tag, lines);
    const int n = lines.count();
    if (n == 0) {
        return step.status();
    }

    FoundList found;
    TagIndex index;
    kep::MemPtr<int> results(alloc_records<int>(n));
    if (!found.init(n) || !results || !index.build(lines.tags(), n)) {
        step.latch(kNoMemory);
        return step.status();
    }
    for (int s = 0; s < num_selected_bom_lines; ++s) {
        const int position = index.find(selected_bom_lines[s]);
        if (position < 0) {
            continue;  // not a line of this window with a box
        }
        int result_count = 0;
        (void)x7ComputeNeighbourhood(position, n, delta, lines.objects(), results.get(), &result_count);
        for (int k = 0; k < result_count; ++k) {
            found.add(results[k]);
        }
    }
    results.reset();
    lines.release_records();

    hand_over(step, found, lines, return_value);
    return step.status();
}

}  // namespace

int kep::services_last_positions(const tag_t* tags, int n, const tag_t* wanted, int count,
                                 int* positions) noexcept {
    TagIndex index;
    if (n > 0 && !index.build(tags, n)) {
        return kNoMemory;
    }
    for (int i = 0; i < count; ++i) {
        positions[i] = index.find(wanted[i]);
    }
    return 0;
}

extern "C" {

int kep_register_userservice_methods(void) {
    kep::FunctionTrace trace("kep_register_userservice_methods");
    kep::Step step;

    // The platform copies the argument type lists; they live only for this call.
    char volume_search_functionName[] = "kep_userservice_volume_search";
    USER_function_t volume_search_functionPtr = kep_userservice_volume_search;
    int volume_search_argumentList[] = {kTypeTag, kTypeDouble, kTypeDoubleArray};
    const int volume_search_numberOfArguments = 3;
    const int volume_search_returnValueType = kTypeTagArray;

    char neighbourhood_search_functionName[] = "kep_userservice_neighbourhood_search";
    USER_function_t neighbourhood_search_functionPtr = kep_userservice_neighbourhood_search;
    int neighbourhood_search_argumentList[] = {kTypeTag, kTypeDouble, kTypeTagArray};
    const int neighbourhood_search_numberOfArguments = 3;
    const int neighbourhood_search_returnValueType = kTypeTagArray;

    kep_log("registering user service [%s]\n", volume_search_functionName);
    step.call(
        "USERSERVICE_register_method( volume_search_functionName, volume_search_functionPtr, "
        "volume_search_numberOfArguments, volume_search_argumentList, volume_search_returnValueType)",
        [&] {
            return USERSERVICE_register_method(volume_search_functionName, volume_search_functionPtr,
                                               volume_search_numberOfArguments, volume_search_argumentList,
                                               volume_search_returnValueType);
        });

    // Announced also when the registration is then skipped.
    kep_log("registering user service [%s]\n", neighbourhood_search_functionName);
    step.call(
        "USERSERVICE_register_method( neighbourhood_search_functionName, neighbourhood_search_functionPtr, "
        "neighbourhood_search_numberOfArguments, neighbourhood_search_argumentList, "
        "neighbourhood_search_returnValueType)",
        [&] {
            return USERSERVICE_register_method(
                neighbourhood_search_functionName, neighbourhood_search_functionPtr,
                neighbourhood_search_numberOfArguments, neighbourhood_search_argumentList,
                neighbourhood_search_returnValueType);
        });

    return step.status();
}

int kep_userservice_volume_search(void* return_value) { return volume_search(return_value); }

int kep_userservice_neighbourhood_search(void* return_value) { return neighbourhood_search(return_value); }

}  // extern "C"
