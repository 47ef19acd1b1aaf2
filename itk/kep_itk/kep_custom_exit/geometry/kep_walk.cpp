// The structure walk: every line of a BOM window with its box and its absolute transform.
//
// The walk is written as if kep_get_child_lines called itself for every child and packed line,
// and its trace is exactly that of such a recursion: each line opens with the entry line of a
// nested kep_get_child_lines, announced by the statement trace of the nested call in its parent,
// and a failure is reported by every level on the way back up with the failure block of its own
// nested call. The pending levels are kept in a heap stack of frames instead of on the machine
// stack, so that a structure of any depth can be walked; each frame holds what one level of the
// recursion would hold in its locals.
#include <limits.h>
#include <string.h>

#include <new>

#include "base/kep_observer.h"
#include "base/kep_status.h"
#include "geometry/kep_geometry.h"
#include "kep_mem.h"
#include "kep_trace.h"
#include "lookup/kep_memo.h"

namespace {

using kep::kNoMemory;

const char* const kChildLines = "kep_get_child_lines";

// What a frame does next.
enum class Next {
    Child,          // walk the next child line
    PackedOfChild,  // ask the packed lines of the child just walked
    Packed,         // walk the next of those packed lines
};

// One line being walked: the locals of one level of the recursion.
struct Frame {
    tag_t line;
    kep_matrix_t matrix;  // the line's absolute transform
    kep::Step step;
    tag_t* children;  // MEM_alloc block of the platform, owned by the frame
    int child_count;
    int next_child;
    tag_t* packed;  // packed lines of the child last walked, owned by the frame
    int pack_count;
    int next_packed;
    Next next = Next::Child;
    const char* pending;  // statement text of the nested walk in progress
};

// The frames of the walk, innermost last, in one MEM_alloc block that doubles when full. Frames
// are plain records, so growing moves them with a byte copy.
class FrameStack {
public:
    FrameStack() noexcept = default;
    ~FrameStack() {
        while (size_ > 0) {
            pop();
        }
        kep::mem_free(frames_);
    }
    FrameStack(const FrameStack&) = delete;
    FrameStack& operator=(const FrameStack&) = delete;

    bool empty() const noexcept { return size_ == 0; }
    Frame& top() noexcept { return frames_[size_ - 1]; }

    // A new value-initialised frame on top (walking its first child next); null when no memory is left.
    // References to frames are invalid afterwards.
    Frame* push() noexcept {
        if (size_ == capacity_ && !grow()) {
            return nullptr;
        }
        return new (&frames_[size_++]) Frame();
    }
    void pop() noexcept {
        Frame& frame = top();
        kep::mem_free(frame.children);
        kep::mem_free(frame.packed);
        --size_;
    }

private:
    bool grow() noexcept {
        const int limit = INT_MAX / static_cast<int>(sizeof(Frame));
        if (capacity_ >= limit) {
            return false;
        }
        const int capacity = capacity_ == 0 ? 64 : (capacity_ > limit / 2 ? limit : capacity_ * 2);
        Frame* frames = kep::mem_alloc_array<Frame>(capacity);
        if (frames == nullptr) {
            return false;
        }
        if (size_ > 0) {
            memcpy(frames, frames_, sizeof(Frame) * static_cast<size_t>(size_));
        }
        kep::mem_free(frames_);
        frames_ = frames;
        capacity_ = capacity;
        return true;
    }

    Frame* frames_ = nullptr;
    int size_ = 0;
    int capacity_ = 0;
};

// The failure block of a nested walk, written by its parent level when the walk comes back with
// a failure: the same block that a traced call writes for a failed statement. The nested call
// opens long before it returns, so the trace helper cannot enclose it; the opening trace pieces
// are written through the helper (see announce_nested_walk), this closing block here.
void report_failed_nested_walk(const char* statement) {
    kep_log_to("ERROR while processing following statement\n");
    kep_log_to("%s\n", statement);
    kep_indent();
    kep_log_error_stack();
    kep_outdent();
}

// The statement trace that opens the nested walk of a line. The walk itself is not made inside
// the trace helper: its frame is pushed right after, and its result reaches the parent when the
// frame is closed.
void announce_nested_walk(const char* statement) {
    kep::traced(statement, [] { return 0; });
}

// Opens the walk of one line: entry line, the line's node when it has a box, its child lines.
// Returns kNoMemory when no frame can be made (nothing written then); otherwise 0, with a
// failure of the line's own calls latched in its frame.
int open_frame(FrameStack& stack, tag_t line, const kep_matrix_t& matrix, kep_node_t** node_list) {
    Frame* frame = stack.push();
    if (frame == nullptr) {
        return kNoMemory;
    }
    frame->line = line;
    frame->matrix = matrix;

    kep_start("%s\n", kChildLines);
    kep_log("handling tag [%d]\n", static_cast<int>(line));

    kep::MemPtr<kep_bbox_t> bbox;
    frame->step.call("kep_get_bbox_for_bomline(parent_line,&bbox)",
                     [&] { return kep_get_bbox_for_bomline(line, bbox.out()); });
    if (!frame->step.ok()) {
        return 0;  // no node, and the children are not visited
    }
    if (bbox) {
        kep_node_t* head = kep_node_list_prepend(*node_list, line, bbox.get(), &frame->matrix);
        if (head == *node_list) {
            frame->step.latch(kNoMemory);
            return 0;
        }
        *node_list = head;
    }
    frame->step.call("BOM_line_ask_child_lines(parent_line, &child_count, &children)",
                     [&] { return BOM_line_ask_child_lines(line, &frame->child_count, &frame->children); });
    return 0;
}

// The next line that the frame walks below itself, with the statement texts of reading its
// transform and of walking it; false when the frame is done or has failed. Asks the packed lines
// of a child once the child's own subtree has been walked.
bool next_line(Frame& frame, tag_t* line, const char** read_statement, const char** walk_statement) {
    while (frame.step.ok()) {
        switch (frame.next) {
            case Next::PackedOfChild: {
                const tag_t act_child = frame.children[frame.next_child - 1];
                kep::mem_free(frame.packed);
                frame.packed = nullptr;
                frame.pack_count = 0;
                frame.next_packed = 0;
                frame.next = Next::Packed;
                frame.step.call("BOM_line_ask_packed_lines(act_child,&pack_count,&packed_lines)", [&] {
                    return BOM_line_ask_packed_lines(act_child, &frame.pack_count, &frame.packed);
                });
                break;
            }
            case Next::Packed:
                if (frame.packed != nullptr && frame.next_packed < frame.pack_count) {
                    *line = frame.packed[frame.next_packed++];
                    *read_statement =
                        "AOM_ask_value_string(act_packed, bomAttr_StandardOccTransform, "
                        "&trans_matrix_string)";
                    *walk_statement = "kep_get_child_lines(act_packed,new_child_matrix,node_list)";
                    return true;
                }
                frame.next = Next::Child;
                break;
            case Next::Child:
                if (frame.children != nullptr && frame.next_child < frame.child_count) {
                    *line = frame.children[frame.next_child++];
                    *read_statement =
                        "AOM_ask_value_string(act_child, bomAttr_StandardOccTransform, &trans_matrix_string)";
                    *walk_statement = "kep_get_child_lines(act_child,new_child_matrix,node_list)";
                    frame.next = Next::PackedOfChild;
                    return true;
                }
                return false;
        }
    }
    return false;
}

// The absolute transform of a line below the frame's line: the frame's transform times the
// line's occurrence transform (the identity when the value is absent or unreadable). False after
// a failed read.
bool place(Frame& frame, tag_t line, const char* read_statement, kep_matrix_t* new_child_matrix) {
    kep::MemPtr<char> trans_matrix_string;
    frame.step.call(read_statement, [&] {
        return AOM_ask_value_string(line, bomAttr_StandardOccTransform, trans_matrix_string.out());
    });
    if (!frame.step.ok()) {
        return false;
    }
    kep_matrix_t occurrence_matrix;
    kep_matrix_from_string(trans_matrix_string.get(), &occurrence_matrix);
    kep_matrix_multiply(&frame.matrix, &occurrence_matrix, new_child_matrix);
    kep::observe_placed(line, frame.next == Next::Packed, trans_matrix_string.get(), new_child_matrix->m);
    return true;
}

}  // namespace

extern "C" int kep_get_child_lines(tag_t line, const kep_matrix_t* matrix, kep_node_t** node_list) {
    FrameStack stack;
    const int status = open_frame(stack, line, *matrix, node_list);
    if (status != 0) {
        return status;
    }
    for (;;) {
        Frame& frame = stack.top();
        tag_t act_line = NULLTAG;
        const char* read_statement = nullptr;
        const char* walk_statement = nullptr;
        if (next_line(frame, &act_line, &read_statement, &walk_statement)) {
            kep_matrix_t new_child_matrix;
            if (place(frame, act_line, read_statement, &new_child_matrix)) {
                announce_nested_walk(walk_statement);
                frame.pending = walk_statement;
                const int opened = open_frame(stack, act_line, new_child_matrix, node_list);
                if (opened != 0) {
                    // `frame` is still the top: no frame was pushed.
                    report_failed_nested_walk(walk_statement);
                    frame.step.latch(opened);
                }
            }
            continue;
        }

        // The frame is done (or failed): its exit line, then its status goes to its parent.
        const int frame_status = frame.step.status();
        kep_end("%s\n", kChildLines);
        // Nothing in this call asks about the line again once its subtree is done: its packed
        // lines and later siblings name the line above it as their parent.
        kep::forget_line(frame.line);
        stack.pop();
        if (stack.empty()) {
            return frame_status;
        }
        if (frame_status != 0) {
            Frame& parent = stack.top();
            report_failed_nested_walk(parent.pending);
            parent.step.latch(frame_status);
        }
    }
}

extern "C" int kep_get_lines_with_bbox(tag_t bom_window_tag, int* count, kep_object3d_t*** object_list,
                                       tag_t** tag_list) {
    kep::FunctionTrace trace("kep_get_lines_with_bbox");
    kep::Step step;
    *count = 0;

    tag_t top_line = NULLTAG;
    step.call("BOM_ask_window_top_line(bom_window_tag,&top_line)",
              [&] { return BOM_ask_window_top_line(bom_window_tag, &top_line); });
    if (!step.ok() || top_line == NULLTAG) {
        return step.status();
    }

    // The node list is released on every way out; the records it hands on are taken out first.
    struct NodeList {
        kep_node_t* head = nullptr;
        ~NodeList() { kep_node_list_release(head); }
    } node_list;
    kep_matrix_t identity_matrix;
    kep_matrix_identity(&identity_matrix);
    // A failed walk keeps the lines collected before the failure; they are handed out below.
    step.call("kep_get_child_lines(top_line,identity_matrix, &node_list)",
              [&] { return kep_get_child_lines(top_line, &identity_matrix, &node_list.head); });

    int n = 0;
    for (const kep_node_t* node = node_list.head; node != nullptr; node = node->next) {
        ++n;
    }
    if (n == 0) {
        return step.status();
    }
    if (n > INT_MAX / static_cast<int>(sizeof(kep_object3d_t*)) - 1) {
        step.latch(kNoMemory);
        return step.status();
    }
    kep::MemPtr<kep_object3d_t*> objects(kep::mem_alloc_array<kep_object3d_t*>(n + 1));
    kep::MemPtr<tag_t> tags(kep::mem_alloc_array<tag_t>(n));
    if (!objects || !tags) {
        step.latch(kNoMemory);
        return step.status();
    }
    // Each node's record is already a MEM_alloc block of its own, made for this line alone, so it
    // is handed on as it is rather than copied; the node list then releases only its nodes.
    int i = 0;
    for (kep_node_t* node = node_list.head; node != nullptr; node = node->next, ++i) {
        objects[i] = node->object;
        node->object = nullptr;
        tags[i] = node->tag;
    }
    objects[n] = nullptr;  // the spare slot, left for the caller
    *count = n;
    *object_list = objects.release();
    *tag_list = tags.release();
    return step.status();
}
