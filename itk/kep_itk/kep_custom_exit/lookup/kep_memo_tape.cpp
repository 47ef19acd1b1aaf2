// Copies of the decisions a lookup told its observer, kept with the lookup's answer in the call
// memo's blocks (kep_memo.h, Recording): everything a decision points to is borrowed for the
// length of one note, so the copy takes its own texts, lists and values.
#include "lookup/kep_memo_table.h"

namespace kep {
namespace memo_detail {

namespace {

const tag_t* tags(Arena& arena, const tag_t* list, int count) { return arena.copy(list, count); }

const double* values(Arena& arena, const double* list, int count) { return arena.copy(list, count); }

const char* const* texts(Arena& arena, const char* const* list, int count) {
    if (list == nullptr || count <= 0) {
        return nullptr;
    }
    const char** copy = arena.allocate<const char*>(static_cast<size_t>(count));
    for (int i = 0; i < count; ++i) {
        copy[i] = arena.text(list[i]);
    }
    return copy;
}

}  // namespace

Note kept_note(Arena& arena, const Note& note) {
    Note n = note;
    switch (n.what) {
        case Decision::BoxBegin:
        case Decision::NoRevision:
        case Decision::BoxPathTaken:
        case Decision::RepresentationChosen:
        case Decision::Visualisation:
        case Decision::Occurrence:
        case Decision::OccurrenceMethod:
            break;
        case Decision::BoxEnd:
            n.box_end.box = values(arena, n.box_end.box, 6);
            break;
        case Decision::Related:
            n.related.objects = tags(arena, n.related.objects, n.related.count);
            break;
        case Decision::UnknownRelation:
            n.unknown_relation.relation = arena.text(n.unknown_relation.relation);
            break;
        case Decision::Preference:
            n.preference.key = arena.text(n.preference.key);
            n.preference.value = arena.text(n.preference.value);
            break;
        case Decision::FilterSwitch:
            n.filter_switch.key = arena.text(n.filter_switch.key);
            n.filter_switch.value = arena.text(n.filter_switch.value);
            break;
        case Decision::PreferenceList:
            n.preference_list.key = arena.text(n.preference_list.key);
            n.preference_list.values = texts(arena, n.preference_list.values, n.preference_list.count);
            break;
        case Decision::GeometrySetFound:
            n.geometry_set.datasets = tags(arena, n.geometry_set.datasets, n.geometry_set.count);
            break;
        case Decision::ModOnHost:
            n.mod_on_host.datasets = tags(arena, n.mod_on_host.datasets, n.mod_on_host.count);
            break;
        case Decision::FilterChoice:
            n.filter_choice.wanted = arena.text(n.filter_choice.wanted);
            break;
        case Decision::Forms:
            n.forms.reference = arena.text(n.forms.reference);
            n.forms.forms = tags(arena, n.forms.forms, n.forms.count);
            break;
        case Decision::UnreadableForm:
            n.unreadable_form.attribute = arena.text(n.unreadable_form.attribute);
            break;
        case Decision::NotFinite:
            n.not_finite.values = values(arena, n.not_finite.values, 6);
            break;
        case Decision::DatasetBox:
            n.dataset_box.values = values(arena, n.dataset_box.values, 6);
            break;
        case Decision::Placed:
            n.placed.text = arena.text(n.placed.text);
            n.placed.absolute = values(arena, n.placed.absolute, 16);
            break;
        case Decision::UnreadableTransform:
            n.unreadable_transform.text = arena.text(n.unreadable_transform.text);
            break;
        case Decision::CallFailed:
            n.call_failed.statement = arena.text(n.call_failed.statement);
            break;
    }
    return n;
}

}  // namespace memo_detail
}  // namespace kep
