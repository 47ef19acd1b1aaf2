// What the representation filter and mod-on host tests share: the console readers and site text
// builders of the tests' support, under this folder's namespace.
#ifndef MODON_SITE_H
#define MODON_SITE_H

#include <kep_console.h>
#include <kep_fixture.h>
#include <kep_site_text.h>

#include <string>
#include <vector>

#include "modon/kep_modon.h"

namespace modon_test {

using Strings = std::vector<std::string>;

using kep_test::first_failure;
using kep_test::FirstFailure;
using kep_test::json_list;
using kep_test::own_lines;
using kep_test::quoted;

}  // namespace modon_test

#endif
