// The site's string store, the names of the platform classes and read messages, and the empty
// site every load starts from.
#include "site.h"

#include <cstring>

namespace standin::detail {

const char* const kClassNames[kClassCount] = {"ItemRevision", "Dataset", "Form", "BOMLine", "BOMWindow"};
const char* const kMsgNames[kMsgCount] = {"PROP_ask_value_string", "PROP_ask_value_strings",
                                          "PROP_ask_value_double", "PROP_ask_value_tag",
                                          "PROP_ask_value_logical"};
const char* const kLineAttributeNames[7] = {
    "bl_revision",         "bl_parent",           "bl_item_item_id",  "bl_occurrence_name",
    "bl_plmxml_occ_xform", "bl_plmxml_abs_xform", "bl_jt_dataset_tag"};

const char* value_kind_name(Msg msg) {
    switch (msg) {
        case Msg::String:
            return "a string";
        case Msg::Strings:
            return "a string list";
        case Msg::Double:
            return "a double";
        case Msg::Tag:
            return "a tag";
        case Msg::Logical:
            return "a logical";
    }
    return "a value";
}

// Names of a site mostly run in numbered series ("l1", "l2", ..., "ds2009", "ds2010"), and a
// loader reads and looks them up mostly in order. The hash keeps the last four bits of a trailing
// number as the low bits of the slot, so that sixteen neighbours of a series lie side by side in
// the index and are found with one trip to memory between them; the rest of the number and the
// text before it choose the group of sixteen at random, as any hash would.
uint32_t Interner::hash(std::string_view text) {
    size_t digits = 0;
    uint64_t number = 0;
    while (digits < text.size() && digits < 9) {
        const char c = text[text.size() - 1 - digits];
        if (c < '0' || c > '9') {
            break;
        }
        ++digits;
    }
    for (size_t i = text.size() - digits; i < text.size(); ++i) {
        number = number * 10 + static_cast<uint64_t>(text[i] - '0');
    }
    // The count of digits tells "a01" from "a1".
    const uint64_t stem = std::hash<std::string_view>{}(text.substr(0, text.size() - digits)) ^ digits;
    uint64_t h = (stem + (number >> 4)) * 0x9e3779b97f4a7c15ULL;
    h ^= h >> 29;
    return static_cast<uint32_t>(h >> 32) << 4 | static_cast<uint32_t>(number & 15);
}

size_t Interner::probe(std::string_view text, uint32_t h) const {
    const size_t mask = slots_.size() - 1;
    for (size_t i = h & mask;; i = (i + 1) & mask) {
        const uint64_t slot = slots_[i];
        if (slot == 0) {
            return i;
        }
        if (static_cast<uint32_t>(slot >> 32) == h) {
            const auto id = static_cast<uint32_t>(slot) - 1;
            if (lengths_[id] == text.size() && std::memcmp(texts_[id], text.data(), text.size()) == 0) {
                return i;
            }
        }
    }
}

void Interner::grow(size_t slots) {
    size_t n = 64;
    while (n < slots) {
        n *= 2;
    }
    if (n <= slots_.size()) {
        return;
    }
    std::vector<uint64_t> old = std::move(slots_);
    slots_.assign(n, 0);
    for (const uint64_t slot : old) {
        if (slot != 0) {
            size_t i = static_cast<uint32_t>(slot >> 32) & (n - 1);
            while (slots_[i] != 0) {
                i = (i + 1) & (n - 1);
            }
            slots_[i] = slot;
        }
    }
}

const char* Interner::store(std::string_view text) {
    const size_t size = text.size() + 1;
    char* at = nullptr;
    // Blocks are not cleared (every byte is written before it is read) and grow from a small
    // first one, so that a small site costs little and a large one few blocks.
    if (size > kBlock / 16) {  // a long text has a block of its own
        blocks_.push_back(std::unique_ptr<char[]>(new char[size]));
        at = blocks_.back().get();
    } else {
        if (filling_ == nullptr || block_used_ + size > block_size_) {
            block_size_ = filling_ == nullptr ? kFirstBlock : std::min(block_size_ * 2, kBlock);
            block_size_ = std::max(block_size_, size);
            blocks_.push_back(std::unique_ptr<char[]>(new char[block_size_]));
            filling_ = blocks_.back().get();
            block_used_ = 0;
        }
        at = filling_ + block_used_;
        block_used_ += size;
    }
    std::memcpy(at, text.data(), text.size());
    at[text.size()] = '\0';
    return at;
}

uint32_t Interner::intern(std::string_view text) {
    if ((indexed_ + 1) * 3 > slots_.size() * 2) {
        grow(slots_.size() * 2);
    }
    const uint32_t h = hash(text);
    const size_t i = probe(text, h);
    if (slots_[i] != 0) {
        return static_cast<uint32_t>(slots_[i]) - 1;
    }
    const auto id = static_cast<uint32_t>(texts_.size());
    texts_.push_back(store(text));
    lengths_.push_back(static_cast<uint32_t>(text.size()));
    slots_[i] = static_cast<uint64_t>(h) << 32 | (static_cast<uint64_t>(id) + 1);
    ++indexed_;
    return id;
}

uint32_t Interner::add(std::string_view text) {
    const auto id = static_cast<uint32_t>(texts_.size());
    texts_.push_back(store(text));
    lengths_.push_back(static_cast<uint32_t>(text.size()));
    return id;
}

uint32_t Interner::find(std::string_view text) const {
    if (slots_.empty()) {
        return kNone;
    }
    const size_t i = probe(text, hash(text));
    return slots_[i] == 0 ? kNone : static_cast<uint32_t>(slots_[i]) - 1;
}

Site::Site() {
    for (int c = 0; c < kClassCount; ++c) {
        Type t;
        t.name = strings.intern(kClassNames[c]);
        t.cls = static_cast<uint8_t>(c);
        add_type(std::move(t));
    }
    p_object_name = strings.intern("object_name");
    p_object_type = strings.intern("object_type");
    p_item_id = strings.intern("item_id");
    for (size_t i = 0; i < p_line.size(); ++i) {
        p_line[i] = strings.intern(kLineAttributeNames[i]);
    }
    identity_text = strings.intern("1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1");
    // An empty site: the classes take the first tags.
    for (size_t i = 0; i < types.size(); ++i) {
        types[i].tag = static_cast<tag_t>(tags.size());
        tags.push_back({Kind::Type, static_cast<uint32_t>(i)});
    }
}

int Site::find_type(std::string_view name) const {
    const uint32_t id = strings.find(name);
    const auto found = id == kNone ? type_index.end() : type_index.find(id);
    return found == type_index.end() ? -1 : found->second;
}

void Site::add_type(Type type) {
    type_index.emplace(type.name, static_cast<int>(types.size()));
    types.push_back(std::move(type));
}

}  // namespace standin::detail
