// What the hostile-input tests share: the sweep site with the line properties and services bound,
// one reading of everything a client can ask of it, and the leak check after each.
#ifndef HOSTILE_SITE_H
#define HOSTILE_SITE_H

#include <base_utils/Mem.h>
#include <gtest/gtest.h>
#include <standin/control.h>

#include <string>
#include <vector>

#include "kep_fixture.h"
#include "registration/kep_registration.h"
#include "sweep_site.h"

namespace hostile_test {

// Replaces every occurrence of `from` in `text` (one pass: the replacement may contain `from`).
inline std::string replaced(std::string text, const std::string& from, const std::string& to) {
    for (size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

inline tag_t tag(const std::string& id) { return standin::tag_of(id); }

// Site ids of tags, in order ("?<tag>" for a tag that names nothing).
inline std::vector<std::string> ids(const std::vector<tag_t>& tags) {
    std::vector<std::string> out;
    for (tag_t t : tags) {
        const std::string id = standin::id_of(t);
        out.push_back(id.empty() ? "?" + std::to_string(t) : id);
    }
    return out;
}

// One service call's outcome.
struct ServiceAnswer {
    int status = -1;
    bool handed_back = false;
    std::vector<std::string> lines;
    bool operator==(const ServiceAnswer& o) const {
        return status == o.status && handed_back == o.handed_back && lines == o.lines;
    }
};

inline void PrintTo(const ServiceAnswer& a, std::ostream* os) {
    *os << "{status " << a.status << (a.handed_back ? ", handed back [" : ", nothing handed back [");
    for (const std::string& l : a.lines) {
        *os << l << " ";
    }
    *os << "]}";
}

inline ServiceAnswer call_service(const std::string& name, const std::vector<standin::UserArg>& args) {
    ServiceAnswer a;
    std::vector<tag_t> returned;
    a.status = standin::call_service(name, args, &returned, &a.handed_back);
    a.lines = ids(returned);
    return a;
}

inline standin::UserArg tag_arg(tag_t t) {
    standin::UserArg a{standin::UserArg::Tag};
    a.tag = t;
    return a;
}
inline standin::UserArg double_arg(double v) {
    standin::UserArg a{standin::UserArg::Double};
    a.value = v;
    return a;
}
inline standin::UserArg doubles_arg(const std::vector<double>& v) {
    standin::UserArg a{standin::UserArg::DoubleArray};
    a.doubles = v;
    return a;
}
inline standin::UserArg tags_arg(const std::vector<tag_t>& v) {
    standin::UserArg a{standin::UserArg::TagArray};
    a.tags = v;
    return a;
}

inline ServiceAnswer volume(tag_t window, double mm, const std::vector<double>& box) {
    return call_service("kep_userservice_volume_search", {tag_arg(window), double_arg(mm), doubles_arg(box)});
}
inline ServiceAnswer neighbours(tag_t window, double mm, const std::vector<tag_t>& selected) {
    return call_service("kep_userservice_neighbourhood_search",
                        {tag_arg(window), double_arg(mm), tags_arg(selected)});
}

// A string property's value as a client reads it ("<null>" for none), with the status.
struct TextAnswer {
    int status = -1;
    std::string value;
    bool operator==(const TextAnswer& o) const { return status == o.status && value == o.value; }
};
inline void PrintTo(const TextAnswer& a, std::ostream* os) {
    *os << "{status " << a.status << ", " << a.value << "}";
}

inline TextAnswer read_text(const std::string& line, const char* property) {
    TextAnswer a;
    char* value = nullptr;
    a.status = standin::ask_string(tag(line), property, &value);
    a.value = value == nullptr ? "<null>" : value;
    MEM_free(value);
    return a;
}

inline TextAnswer read_tag(const std::string& line, const char* property) {
    TextAnswer a;
    tag_t value = NULLTAG;
    a.status = standin::ask_tag(tag(line), property, &value);
    a.value = value == NULLTAG ? "<null>" : standin::id_of(value);
    return a;
}

// Everything a client can ask of the sweep site's lines and window.
struct Answers {
    TextAnswer occ;
    TextAnswer abs;
    TextAnswer jt;
    TextAnswer jt_top;
    ServiceAnswer volume;
    ServiceAnswer neighbours;
    bool operator==(const Answers& o) const {
        return occ == o.occ && abs == o.abs && jt == o.jt && jt_top == o.jt_top && volume == o.volume &&
               neighbours == o.neighbours;
    }
};
inline void PrintTo(const Answers& a, std::ostream* os) {
    *os << "occ ";
    PrintTo(a.occ, os);
    *os << ", abs ";
    PrintTo(a.abs, os);
    *os << ", jt ";
    PrintTo(a.jt, os);
    *os << ", jt(top) ";
    PrintTo(a.jt_top, os);
    *os << ", volume ";
    PrintTo(a.volume, os);
    *os << ", neighbours ";
    PrintTo(a.neighbours, os);
}

inline Answers ask_everything(const std::string& line = "leaf") {
    Answers a;
    a.occ = read_text(line, "bl_plmxml_occ_xform");
    a.abs = read_text(line, "bl_plmxml_abs_xform");
    a.jt = read_tag(line, "bl_jt_dataset_tag");
    a.jt_top = read_tag("top", "bl_jt_dataset_tag");
    a.volume = volume(tag("w1"), 5.0, {-10, -10, -10, 10, 10, 10});
    a.neighbours = neighbours(tag("w1"), 500.0, {tag(line), tag("bare")});
    return a;
}

class HostileTest : public kep_test::KepFixture {
protected:
    // Loads a site and binds the line properties and the services, as the user-service exit does.
    static void bind(const std::string& json) {
        ASSERT_NO_FATAL_FAILURE(load_site(json));
        ASSERT_EQ(kep_register_object_methods(), 0);
        ASSERT_EQ(kep_register_userservice_methods(), 0);
        standin::reset_counters();
    }
    static void bind_sweep_site() { bind(sweep_test::sweep_site_post_actions()); }

    // Nothing left behind by what ran since the last check: blocks, misuse, indentation. The
    // error stack too, unless the caller expects a failure there.
    static void expect_nothing_left(bool errors_expected = false) {
        expect_clean();
        if (!errors_expected) {
            EXPECT_TRUE(standin::errors().empty()) << standin::errors().front().text;
        }
    }
};

}  // namespace hostile_test

#endif
