// Matrices: text form both ways (also under a process locale with a decimal comma), product,
// and the node list.
#include <locale.h>
#include <stdlib.h>

#include <atomic>
#include <cfenv>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "geometry/kep_geometry.h"
#include "kep_fixture.h"
#include "kep_posix.h"
#include "kep_temp_dir.h"

namespace {

using kep_test::KepFixture;

kep_matrix_t filled(double value) {
    kep_matrix_t m;
    for (double& v : m.m) {
        v = value;
    }
    return m;
}

kep_matrix_t identity() {
    kep_matrix_t m;
    kep_matrix_identity(&m);
    return m;
}

std::string to_string(const kep_matrix_t& m) {
    char* text = nullptr;
    kep_matrix_to_string(&m, &text);
    std::string copy = text != nullptr ? text : "<null>";
    MEM_free(text);
    return copy;
}

void expect_matrix_eq(const kep_matrix_t& actual, const kep_matrix_t& expected) {
    for (int i = 0; i < 16; ++i) {
        EXPECT_EQ(actual.m[i], expected.m[i]) << "element (" << i / 4 << ", " << i % 4 << ")";
    }
}

class MatrixTest : public KepFixture {};

// ---- Reading --------------------------------------------------------------------------------

struct ReadCase {
    const char* name;
    const char* text;
    bool falls_back;            // logs the message and gives the identity
    double m03, m13, m23, m33;  // expected translation column when read
};

TEST_F(MatrixTest, ReadsTextFormOrFallsBackToIdentity) {
    const ReadCase cases[] = {
        {"translation", "1 0 0 0 0 1 0 0 0 0 1 0 10 20 30 1", false, 10, 20, 30, 1},
        {"tabs and line breaks", "1\t0\t0\t0\n0 1 0 0\r\n0\t0 1 0\n\n10  20\t30\v1", false, 10, 20, 30, 1},
        {"17th number and text ignored", "1 0 0 0 0 1 0 0 0 0 1 0 10 20 30 1 99 and more", false, 10, 20, 30,
         1},
        {"exponent and sign forms", "1e0 0 0 0 0 +1 0 0 0 0 10E-1 0 -2.5e+1 .5 5. 1", false, -25, 0.5, 5, 1},
        {"comma after the 16th number", "1 0 0 0 0 1 0 0 0 0 1 0 10 20 30 2,5", false, 10, 20, 30, 2},
        {"leading white space", "  \n 1 0 0 0 0 1 0 0 0 0 1 0 7 8 9 1", false, 7, 8, 9, 1},
        {"15 numbers", "1 0 0 0 0 1 0 0 0 0 1 0 10 20 30", true, 0, 0, 0, 1},
        {"empty", "", true, 0, 0, 0, 1},
        {"only blanks", "   \t ", true, 0, 0, 0, 1},
        {"letter first", "x1 0 0 0 0 1 0 0 0 0 1 0 10 20 30 1", true, 0, 0, 0, 1},
        {"decimal comma", "1 0 0 0 0 1 0 0 0 0 1 0 10,5 20 30 1", true, 0, 0, 0, 1},
        {"absent", nullptr, true, 0, 0, 0, 1},
        // Numbers that are not finite would carry NaN into every product.
        {"nan", "1 0 0 0 0 1 0 0 0 0 1 0 nan 0 0 1", true, 0, 0, 0, 1},
        {"infinity", "1 0 0 0 0 1 0 0 0 0 1 0 10 -INF 30 1", true, 0, 0, 0, 1},
        {"beyond the range of a double", "1e400 0 0 0 0 1 0 0 0 0 1 0 10 20 30 1", true, 0, 0, 0, 1},
        {"tiny numbers stay", "1 0 0 0 0 1 0 0 0 0 1 0 1e-400 20 30 1", false, 0, 20, 30, 1},
    };
    set_switches("ON", nullptr, nullptr);
    for (const ReadCase& c : cases) {
        SCOPED_TRACE(c.name);
        kep_matrix_t m = filled(-7.0);
        const std::string console = capture_console([&] { kep_matrix_from_string(c.text, &m); });
        if (c.falls_back) {
            const std::string shown = c.text != nullptr ? c.text : "(null)";
            EXPECT_EQ(console, "cannot get matrix from string [" + shown + "], assuming identity\n");
            expect_matrix_eq(m, identity());
            continue;
        }
        EXPECT_EQ(console, "");
        kep_matrix_t expected = identity();
        expected.m[3] = c.m03;
        expected.m[7] = c.m13;
        expected.m[11] = c.m23;
        expected.m[15] = c.m33;
        expect_matrix_eq(m, expected);
    }
    expect_clean();
}

// Every number is read bit for bit as the C library's scanner reads it, in each of the four
// rounding modes, whether the reader takes it in its plain form or leaves it to the scanner:
// around the limits of the plain form (15 significant digits, decimal exponents up to 22 either
// way), signs (a negative number rounds the other way up or down), zeros and forms it leaves.
uint64_t bits_of(double value) {
    uint64_t bits = 0;
    std::memcpy(&bits, &value, sizeof bits);
    return bits;
}

TEST_F(MatrixTest, ReadsEveryNumberAsTheScannerDoes) {
    std::vector<std::string> numbers = {
        "0",
        "-0",
        "+0",
        "0.0",
        "-0.000",
        "1",
        "-1",
        "+7",
        "0.1",
        "-0.999683",
        "-0.1",
        "-123.456e-7",
        "-3.3333333333e5",
        "0.025174",
        "000123.4500",
        "999999999999999",
        "9999999999999999",
        "123456789012345",
        "1234567890123456",
        "0.000000000000001",
        "1.23456789012345",
        "1.234567890123456",
        "4503599627370497",
        "9007199254740993",
        "1e22",
        "1e23",
        "1e-22",
        "1e-23",
        "123456789012345e22",
        "123456789012345e-22",
        "5e-324",
        "1.7976931348623157e308",
        "2.5E+1",
        "2.5e-01",
        "1e0",
        "10E-1",
        "0e400",
        "-0e-400",
        ".5",
        "5.",
        "0.30000000000000004",
    };
    std::mt19937_64 random(7);
    for (int i = 0; i < 2000; ++i) {
        char text[64];
        const unsigned long long digits = random() % 10000000000000000ULL;
        const int point = static_cast<int>(random() % 18);
        const int exponent = static_cast<int>(random() % 60) - 30;
        std::snprintf(text, sizeof text, "%s%llu", random() % 2 != 0 ? "-" : "", digits);
        std::string number = text;
        if (point < static_cast<int>(number.size()) && point > 1) {
            number.insert(static_cast<size_t>(point), ".");
        }
        if (random() % 2 != 0) {
            number += "e" + std::to_string(exponent);
        }
        numbers.push_back(number);
    }
    // In every rounding mode: the platform's server may run code that changes it.
    const std::pair<int, const char*> modes[] = {{FE_TONEAREST, "FE_TONEAREST"},
                                                 {FE_UPWARD, "FE_UPWARD"},
                                                 {FE_DOWNWARD, "FE_DOWNWARD"},
                                                 {FE_TOWARDZERO, "FE_TOWARDZERO"}};
    for (const auto& [mode, mode_name] : modes) {
#if defined(_WIN32)
        // The Windows C runtime's scanner rounds to nearest whatever the mode, so it is no measure
        // of the directed modes there; the reader rounds as on every other system.
        if (mode != FE_TONEAREST) {
            continue;
        }
#endif
        for (const std::string& number : numbers) {
            SCOPED_TRACE(number + " under " + mode_name);
            ASSERT_EQ(std::fesetround(mode), 0);
            double expected = 0.0;
            const int scanned = std::sscanf(number.c_str(), "%le", &expected);
            kep_matrix_t m = filled(-7.0);
            kep_matrix_from_string(("1 0 0 0 0 1 0 0 0 0 1 0 " + number + " 0 0 1").c_str(), &m);
            std::fesetround(FE_TONEAREST);
            ASSERT_EQ(scanned, 1);
            if (!std::isfinite(expected)) {
                continue;
            }
            EXPECT_EQ(bits_of(m.m[3]), bits_of(expected)) << m.m[3] << " against " << expected;
        }
    }
    expect_clean();
}

TEST_F(MatrixTest, TextRunsColumnByColumn) {
    kep_matrix_t m;
    kep_matrix_from_string("1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16", &m);
    for (int r = 0; r < 4; ++r) {
        for (int c = 0; c < 4; ++c) {
            EXPECT_EQ(m.m[4 * r + c], 4 * c + r + 1) << r << "," << c;
        }
    }
    EXPECT_EQ(to_string(m), "1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16");
}

// ---- Writing --------------------------------------------------------------------------------

TEST_F(MatrixTest, WritesSixteenSignificantDigitsWithSingleBlanks) {
    kep_matrix_t translated = identity();
    translated.m[3] = 0.25;
    translated.m[7] = -3;
    translated.m[11] = 12;
    kep_matrix_t fractions = identity();
    fractions.m[0] = 0.1;
    fractions.m[5] = 1.0 / 3.0;
    fractions.m[10] = -1e-300;
    fractions.m[3] = 1e21;
    const struct {
        const char* name;
        kep_matrix_t matrix;
        const char* text;
    } cases[] = {
        {"identity", identity(), "1 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1"},
        {"translation", translated, "1 0 0 0 0 1 0 0 0 0 1 0 0.25 -3 12 1"},
        {"fractions and exponents", fractions,
         "0.1 0 0 0 0 0.3333333333333333 0 0 0 0 -1e-300 0 1e+21 0 0 1"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        EXPECT_EQ(to_string(c.matrix), c.text);
    }
    expect_clean();
}

// The exponent has two digits at least and no more than it needs, as C99 prints it, on every
// system: Microsoft's older C runtime would write "1e-005" and "1e+021".
TEST_F(MatrixTest, ExponentsHaveTheSameDigitsOnEverySystem) {
    const struct {
        double value;
        const char* text;
    } cases[] = {
        {1e-5, "1e-05"},
        {-2.5e-7, "-2.5e-07"},
        {1e21, "1e+21"},
        {1.25e+99, "1.25e+99"},
        {1e100, "1e+100"},
        {-1e-300, "-1e-300"},
        {4.9e-324, "4.940656458412465e-324"},
        {1.7976931348623157e308, "1.797693134862316e+308"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text);
        kep_matrix_t matrix = identity();
        matrix.m[0] = c.value;
        EXPECT_EQ(to_string(matrix), std::string(c.text) + " 0 0 0 0 1 0 0 0 0 1 0 0 0 0 1");
    }
    expect_clean();
}

TEST_F(MatrixTest, RoundTripKeepsSixteenSignificantDigits) {
    std::mt19937_64 rng(20240611);
    std::uniform_real_distribution<double> mantissa(-1.0, 1.0);
    std::uniform_int_distribution<int> exponent(-30, 30);
    char a[64];
    char b[64];
    for (int round = 0; round < 2000; ++round) {
        kep_matrix_t m;
        for (double& v : m.m) {
            v = std::ldexp(mantissa(rng), exponent(rng));
        }
        kep_matrix_t back = filled(0.0);
        char* text = nullptr;
        kep_matrix_to_string(&m, &text);
        kep_matrix_from_string(text, &back);
        MEM_free(text);
        for (int i = 0; i < 16; ++i) {
            std::snprintf(a, sizeof a, "%.16g", m.m[i]);
            std::snprintf(b, sizeof b, "%.16g", back.m[i]);
            ASSERT_STREQ(a, b) << "round " << round << ", element " << i;
        }
    }
    expect_clean();
}

// ---- Locale ---------------------------------------------------------------------------------

// Installs, for the test's lifetime, a process locale whose decimal point is a comma: an
// installed German locale when there is one, otherwise a small locale compiled with localedef
// into a temporary folder. ok() is false when neither is possible.
class CommaLocale {
public:
    CommaLocale() {
        const char* previous = setlocale(LC_ALL, nullptr);
        previous_ = previous != nullptr ? previous : "C";
        for (const char* name :
             {"de_DE.UTF-8", "de_DE.utf8", "de_DE", "fr_FR.UTF-8", "fr_FR.utf8", "German_Germany.1252"}) {
            if (install(name)) {
                return;
            }
        }
        if (compile_own()) {
            install("kep_COMMA");
        }
    }
    ~CommaLocale() {
        setlocale(LC_ALL, previous_.c_str());
        if (!folder_.empty()) {
            unsetenv("LOCPATH");
            std::system(("rm -rf '" + folder_ + "'").c_str());
        }
    }
    bool ok() const { return ok_; }
    const std::string& name() const { return name_; }

private:
    bool install(const char* name) {
        if (setlocale(LC_ALL, name) == nullptr) {
            return false;
        }
        char probe[16];
        std::snprintf(probe, sizeof probe, "%.1f", 1.5);
        ok_ = std::strcmp(probe, "1,5") == 0;
        name_ = name;
        if (!ok_) {
            setlocale(LC_ALL, previous_.c_str());
        }
        return ok_;
    }
    bool compile_own() {
#if defined(_WIN32)
        return false;  // no localedef; Windows names its German locale German_Germany.1252
#endif
        folder_ = kep_test::temp_path("locale");
        std::error_code made;
        if (!std::filesystem::create_directory(folder_, made)) {
            return false;
        }
        const std::string source = folder_ + "/comma.src";
        FILE* f = std::fopen(source.c_str(), "w");
        if (f == nullptr) {
            return false;
        }
        std::fputs(
            "LC_CTYPE\ncopy \"POSIX\"\nEND LC_CTYPE\n"
            "LC_NUMERIC\ndecimal_point \"<U002C>\"\nthousands_sep \"<U002E>\"\ngrouping 3;3\nEND LC_NUMERIC\n"
            "LC_COLLATE\ncopy \"POSIX\"\nEND LC_COLLATE\nLC_TIME\ncopy \"POSIX\"\nEND LC_TIME\n"
            "LC_MONETARY\ncopy \"POSIX\"\nEND LC_MONETARY\nLC_MESSAGES\ncopy \"POSIX\"\nEND LC_MESSAGES\n",
            f);
        std::fclose(f);
        const std::string command =
            "localedef -c -i '" + source + "' -f ANSI_X3.4-1968 '" + folder_ + "/kep_COMMA' >/dev/null 2>&1";
        std::system(command.c_str());
        setenv("LOCPATH", folder_.c_str(), 1);
        return true;
    }

    std::string previous_;
    std::string folder_;
    std::string name_;
    bool ok_ = false;
};

std::string format_in_current_locale(double value) {
    char text[32];
    std::snprintf(text, sizeof text, "%.2f", value);
    return text;
}

TEST_F(MatrixTest, ReadsAndWritesDecimalPointUnderCommaProcessLocale) {
    CommaLocale locale;
    if (!locale.ok()) {
        GTEST_SKIP() << "no locale with a decimal comma can be installed here";
    }
    kep_matrix_t m = filled(-1.0);
    kep_matrix_from_string("0.5 0 0 0 0 1.25 0 0 0 0 1 0 10.75 -2.5e-1 3 1", &m);
    EXPECT_EQ(m.m[0], 0.5);
    EXPECT_EQ(m.m[5], 1.25);
    EXPECT_EQ(m.m[3], 10.75);
    EXPECT_EQ(m.m[7], -0.25);
    EXPECT_EQ(to_string(m), "0.5 0 0 0 0 1.25 0 0 0 0 1 0 10.75 -0.25 3 1");
    // The process keeps its conventions.
    EXPECT_EQ(format_in_current_locale(1.5), "1,50") << locale.name();

#if !defined(_WIN32)  // POSIX thread locales (uselocale); Windows reads under its own "C" locale object
    // A thread with a locale of its own gets it back after a read.
    std::string in_thread;
    std::thread worker([&] {
        locale_t own = duplocale(LC_GLOBAL_LOCALE);  // a thread locale of its own, also with a comma
        ASSERT_NE(own, static_cast<locale_t>(0));
        locale_t before = uselocale(own);
        kep_matrix_t local;
        kep_matrix_from_string("1 0 0 0 0 1 0 0 0 0 1 0 0.5 0 0 1", &local);
        char* text = nullptr;
        kep_matrix_to_string(&local, &text);
        in_thread = std::string(text) + "|" + format_in_current_locale(2.5);
        MEM_free(text);
        EXPECT_EQ(uselocale(static_cast<locale_t>(0)), own);
        uselocale(before);
        freelocale(own);
    });
    worker.join();
    EXPECT_EQ(in_thread, "1 0 0 0 0 1 0 0 0 0 1 0 0.5 0 0 1|2,50");
#endif
    expect_clean();
}

// Reading must not switch the conventions of the whole process: another thread formatting numbers
// at the same moment keeps its decimal comma.
TEST_F(MatrixTest, ReadingDoesNotChangeNumberFormattingOfOtherThreads) {
    CommaLocale locale;
    if (!locale.ok()) {
        GTEST_SKIP() << "no locale with a decimal comma can be installed here";
    }
    std::atomic<bool> stop{false};
    std::atomic<long> wrong{0};
    std::thread formatter([&] {
        while (!stop.load()) {
            if (format_in_current_locale(0.5) != "0,50") {
                ++wrong;
            }
        }
    });
    for (int i = 0; i < 20000; ++i) {
        kep_matrix_t m;
        kep_matrix_from_string("1 0 0 0 0 1 0 0 0 0 1 0 0.5 0 0 1", &m);
        ASSERT_EQ(m.m[3], 0.5);
    }
    stop = true;
    formatter.join();
    EXPECT_EQ(wrong.load(), 0);
}

// ---- Product --------------------------------------------------------------------------------

kep_matrix_t rotation_z90_translated(double tx, double ty, double tz) {
    kep_matrix_t m = identity();
    m.m[0] = 0;
    m.m[1] = -1;
    m.m[4] = 1;
    m.m[5] = 0;
    m.m[3] = tx;
    m.m[7] = ty;
    m.m[11] = tz;
    return m;
}

TEST_F(MatrixTest, MultiplyComposesParentAfterChild) {
    const kep_matrix_t parent = rotation_z90_translated(0, 0, 0);
    kep_matrix_t shift = identity();
    shift.m[3] = 1;
    const kep_matrix_t child = rotation_z90_translated(0, 2, 0);

    kep_matrix_t r;
    kep_matrix_multiply(&shift, &child, &r);  // child's rotation, translation (1, 2, 0)
    expect_matrix_eq(r, rotation_z90_translated(1, 2, 0));

    kep_matrix_multiply(&child, &shift, &r);  // (1, 0, 0) turned to (0, 1, 0), plus (0, 2, 0)
    expect_matrix_eq(r, rotation_z90_translated(0, 3, 0));

    kep_matrix_multiply(&parent, &parent, &r);  // two quarter turns
    EXPECT_EQ(r.m[0], -1);
    EXPECT_EQ(r.m[5], -1);
}

TEST_F(MatrixTest, MultiplyByIdentityKeepsUpperRowsAndResetsRowThree) {
    std::mt19937_64 rng(7);
    std::uniform_real_distribution<double> value(-100.0, 100.0);
    const kep_matrix_t id = identity();
    for (int round = 0; round < 100; ++round) {
        kep_matrix_t m;
        for (double& v : m.m) {
            v = value(rng);  // row 3 too: it must never be read
        }
        kep_matrix_t expected = m;
        expected.m[12] = expected.m[13] = expected.m[14] = 0;
        expected.m[15] = 1;
        kep_matrix_t left;
        kep_matrix_t right;
        kep_matrix_multiply(&id, &m, &left);
        kep_matrix_multiply(&m, &id, &right);
        expect_matrix_eq(left, expected);
        expect_matrix_eq(right, expected);
    }
}

// The result may be one of the inputs (an accumulator folded in place) without reading values
// it has already overwritten.
TEST_F(MatrixTest, MultiplyIntoOneOfItsInputsGivesTheSameProduct) {
    kep_matrix_t a = rotation_z90_translated(1, 2, 3);
    a.m[2] = 0.5;
    kep_matrix_t b = rotation_z90_translated(-4, 5, 6);
    b.m[9] = 0.25;
    kep_matrix_t expected;
    kep_matrix_multiply(&a, &b, &expected);

    kep_matrix_t into_parent = a;
    kep_matrix_multiply(&into_parent, &b, &into_parent);
    expect_matrix_eq(into_parent, expected);
    kep_matrix_t into_child = b;
    kep_matrix_multiply(&a, &into_child, &into_child);
    expect_matrix_eq(into_child, expected);

    kep_matrix_t copy = filled(3.0);
    kep_matrix_copy(&expected, &copy);
    expect_matrix_eq(copy, expected);
}

// ---- Node list ------------------------------------------------------------------------------

TEST_F(MatrixTest, NodeListHoldsLinesInReverseOrderAndReleasesEverything) {
    kep_node_t* head = nullptr;
    const tag_t tags[] = {11, 22, 33};
    for (int i = 0; i < 3; ++i) {
        const kep_bbox_t box = {1.0 * i, 2.0, 3.0, 4.0, 5.0, 6.0 + i};
        kep_matrix_t m;
        for (int k = 0; k < 16; ++k) {
            m.m[k] = 100.0 * i + k;
        }
        head = kep_node_list_prepend(head, tags[i], &box, &m);
    }
    EXPECT_EQ(standin::live_blocks(), 6);
    int position = 0;
    for (const kep_node_t* node = head; node != nullptr; node = node->next, ++position) {
        const int i = 2 - position;
        SCOPED_TRACE(position);
        ASSERT_LT(position, 3);
        EXPECT_EQ(node->tag, tags[i]);
        ASSERT_NE(node->object, nullptr);
        EXPECT_EQ(node->object->BB, 1);
        EXPECT_EQ(node->object->bbox.x1, 1.0 * i);
        EXPECT_EQ(node->object->bbox.z2, 6.0 + i);
        for (int k = 0; k < 12; ++k) {
            EXPECT_EQ(node->object->matrix[k], 100.0 * i + k);
        }
    }
    EXPECT_EQ(position, 3);
    kep_node_list_release(head);
    kep_node_list_release(nullptr);
    expect_clean();
}

}  // namespace
