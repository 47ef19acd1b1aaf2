// The reasons an explanation gives for a line without a box: one table of their words, which the
// deploying guide shows as its table of reasons.
#ifndef KEP_EXPLAIN_REASONS_H
#define KEP_EXPLAIN_REASONS_H

namespace kep {

enum class Reason {
    MissingPreference,
    NoDataset,
    UnknownRelation,
    NotUnderRelation,
    FilterChoseNothing,
    NoForm,
    SearchCallFailed,
    NotFinite,
    OnlyVisualisation,
    NotWalked,
    NoRevision,
};

struct ReasonRow {
    Reason reason;
    const char* lead;   // the words every such reason begins with
    const char* shown;  // the reason as the guide shows it, with its variable parts named
};

// The table, in the guide's order.
const ReasonRow* reason_rows(int* count) noexcept;
// The words a reason begins with.
const char* reason_lead(Reason reason) noexcept;

}  // namespace kep

#endif
