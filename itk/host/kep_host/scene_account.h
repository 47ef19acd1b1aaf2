// The extension's account of a window (kep_explain_line with KEP_EXPLAIN_WINDOW), read from its
// text in one pass into what the scene takes of each line, with no document in between.
#ifndef KEP_HOST_SCENE_ACCOUNT_H
#define KEP_HOST_SCENE_ACCOUNT_H

#include <tc/tc.h>

#include <array>
#include <functional>
#include <string>
#include <vector>

namespace kep_host {

// A tag of the account: a number, or anything else (null) when not set.
struct AccountTag {
    bool set = false;
    tag_t value = NULLTAG;
};

// A text of the account: a string, or anything else (null) when not set.
struct AccountText {
    bool set = false;
    std::string value;
};

// What the scene takes of one line of the account. A value that is null where numbers stand is
// read as not a number; the absolute placement's nulls are read as 0.
struct LineAccount {
    AccountTag line;
    AccountText source;
    AccountTag representation;
    bool absolute_set = false;  // an array
    std::vector<double> absolute;
    AccountText box_path;
    bool box_set = false;  // an array
    std::vector<double> box;
    std::vector<AccountTag> box_datasets;
    std::vector<AccountTag> ignored;
    AccountTag mod_on_host;
    AccountText choice;
    bool search_box_set = false;  // an object
    std::vector<double> centre;
    std::vector<double> axes;  // the three axes' values in turn
    std::vector<double> half_extents;
    AccountText reason;
    std::vector<std::string> reasons;  // the texts of the array
    bool found = false;
    AccountText why;
    std::vector<std::string> tests;  // the texts of the array
};

// Reads the account `text`, handing each line to `take` as soon as it is read (the record is reused
// for the next line); false when the text is no JSON object, which may be found only after some
// lines were handed over. The text is read in place: its strings' closing quotes may be left
// overwritten.
bool read_account(char* text, const std::function<void(LineAccount&)>& take);

}  // namespace kep_host

#endif
