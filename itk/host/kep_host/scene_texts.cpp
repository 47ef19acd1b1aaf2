// The texts of a scene (scene.h).
#include <cstring>
#include <functional>

#include "scene.h"

namespace kep_host {

namespace {

// The room of a block; a text of more than a quarter of it has a block of its own.
constexpr size_t kBlock = size_t{1} << 16;

}  // namespace

SceneTexts::SceneTexts() { views_.emplace_back(); }

std::string_view SceneTexts::store(std::string_view text) {
    if (text.empty()) {
        return {};
    }
    if (text.size() > kBlock / 4) {
        blocks_.emplace_back(new char[text.size()]);
        std::memcpy(blocks_.back().get(), text.data(), text.size());
        return {blocks_.back().get(), text.size()};
    }
    if (text.size() > left_) {
        blocks_.emplace_back(new char[kBlock]);
        free_ = blocks_.back().get();
        left_ = kBlock;
    }
    char* at = free_;
    std::memcpy(at, text.data(), text.size());
    free_ += text.size();
    left_ -= text.size();
    return {at, text.size()};
}

SceneTexts::Ref SceneTexts::add(std::string_view text) {
    views_.push_back(store(text));
    return static_cast<Ref>(views_.size() - 1);
}

void SceneTexts::grow_slots() {
    std::vector<Ref> slots(slots_.empty() ? 64 : slots_.size() * 2, 0);
    const size_t mask = slots.size() - 1;
    for (const Ref slot : slots_) {
        if (slot != 0) {
            size_t at = std::hash<std::string_view>()(views_[slot - 1]) & mask;
            while (slots[at] != 0) {
                at = (at + 1) & mask;
            }
            slots[at] = slot;
        }
    }
    slots_.swap(slots);
}

SceneTexts::Ref SceneTexts::intern(std::string_view text) {
    if (text.empty()) {
        return 0;
    }
    if (2 * (interned_ + 1) > slots_.size()) {
        grow_slots();
    }
    const size_t mask = slots_.size() - 1;
    size_t at = std::hash<std::string_view>()(text) & mask;
    for (; slots_[at] != 0; at = (at + 1) & mask) {
        if (views_[slots_[at] - 1] == text) {
            return slots_[at] - 1;
        }
    }
    const Ref ref = add(text);
    slots_[at] = ref + 1;
    ++interned_;
    return ref;
}

}  // namespace kep_host
