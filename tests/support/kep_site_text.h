// Pieces of site text that the tests build alike: JSON texts and lists, the standard dataset-type
// preferences, item revisions and box forms. Header only, for the benchmarks and fuzz targets too.
#ifndef KEP_SITE_TEXT_H
#define KEP_SITE_TEXT_H

#include <algorithm>
#include <array>
#include <locale>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

namespace kep_test {

// A JSON string literal.
inline std::string quoted(const std::string& text) {
    std::string out = "\"";
    for (char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
        }
        out += c;
    }
    return out + "\"";
}

// A JSON list of texts.
inline std::string json_list(const std::vector<std::string>& values) {
    std::string out = "[";
    for (size_t i = 0; i < values.size(); ++i) {
        out += (i == 0 ? "" : ", ") + kep_test::quoted(values[i]);
    }
    return out + "]";
}

// The dataset types the tests' sites configure, as members of a site's "preferences": the 3D
// types Part3D, Model3D, Tess3D and Rep3D, the auxiliary types AuxPart, AuxModel, AuxTess, AuxRep
// and Archive, and the product structure datasets of `product_type` under `product_relation`.
inline std::string dataset_type_preferences(const std::string& product_relation = "IMAN_specification",
                                            const std::string& product_type = "Assembly3D") {
    return R"("KEPPartDatasetType": "Part3D", "KEPModelDatasetType": "Model3D", "KEPCgrDatasetType": "Tess3D",
    "KEPRepDatasetType": "Rep3D", "KEPAuxPartDatasetType": "AuxPart", "KEPAuxModelDatasetType": "AuxModel",
    "KEPAuxCgrDatasetType": "AuxTess", "KEPAuxRepDatasetType": "AuxRep", "KEPArchiveDatasetType": "Archive",
    "KEPProductDatasetRelation": )" +
           kep_test::quoted(product_relation) + R"(, "KEPProductDatasetType": )" +
           kep_test::quoted(product_type);
}

// Item revisions as members of a site's "objects": "top" gives "top/A" of the item "TOP".
inline std::string revisions(const std::vector<std::string>& names) {
    std::string out;
    for (const std::string& name : names) {
        std::string item = name;
        std::transform(item.begin(), item.end(), item.begin(),
                       [](char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; });
        out += (out.empty() ? "" : ", ") + kep_test::quoted(name + "/A") +
               R"(: {"type": "ItemRevision", "item_id": )" + kep_test::quoted(item) + "}";
    }
    return out;
}

// A box form as a member of a site's "objects": a "BBForm" with the attributes var2_bb_x1 to
// var2_bb_z2.
inline std::string box_form(const std::string& id, double x1, double y1, double z1, double x2, double y2,
                            double z2) {
    std::ostringstream out;
    out.imbue(std::locale::classic());
    out.precision(17);
    out << kep_test::quoted(id) << R"(: {"type": "BBForm", "attributes": {"var2_bb_x1": )" << x1
        << R"(, "var2_bb_y1": )" << y1 << R"(, "var2_bb_z1": )" << z1 << R"(, "var2_bb_x2": )" << x2
        << R"(, "var2_bb_y2": )" << y2 << R"(, "var2_bb_z2": )" << z2 << "}}";
    return out.str();
}

// Several box forms, one for each (id, x1, y1, z1, x2, y2, z2), as members of a site's "objects".
inline std::string box_forms(const std::vector<std::pair<std::string, std::array<double, 6>>>& forms) {
    std::string out;
    for (const auto& f : forms) {
        const std::array<double, 6>& b = f.second;
        out += (out.empty() ? "" : ", ") + box_form(f.first, b[0], b[1], b[2], b[3], b[4], b[5]);
    }
    return out;
}

}  // namespace kep_test

#endif
