// The generator's objects: the revisions, datasets and forms met while the lines were written,
// and the relations between them.
#include <algorithm>
#include <string>

#include "generate.h"

namespace kep_host::generation {

// --- the objects ----------------------------------------------------------------------------

void Generator::write_box(const Vec& lo, const Vec& hi) {
    static const char* const names[6] = {"var2_bb_x1", "var2_bb_y1", "var2_bb_z1",
                                         "var2_bb_x2", "var2_bb_y2", "var2_bb_z2"};
    out_ << "\"type\": \"BBForm\", \"attributes\": {";
    for (int k = 0; k < 6; ++k) {
        out_ << (k ? ", \"" : "\"") << names[k] << "\": " << (k < 3 ? lo[k] : hi[k - 3]);
    }
    out_ << "}}";
}

void Generator::write_string_list(const std::vector<std::string>& values) {
    out_ << "[";
    for (size_t k = 0; k < values.size(); ++k) {
        out_ << (k ? ", \"" : "\"") << values[k] << "\"";
    }
    out_ << "]";
}

void Generator::relate(const std::string& primary, const char* relation, const std::string& secondary) {
    relations_ += relations_.empty() ? "\n[\"" : ",\n[\"";
    relations_ += primary;
    relations_ += "\", \"";
    relations_ += relation;
    relations_ += "\", \"";
    relations_ += secondary;
    relations_ += "\"]";
}

void Generator::write_objects() {
    out_ << "\"objects\": {\n"
         << "\"fvis\": {\"type\": \"BBForm\", \"attributes\": {\"var2_bb_x1\": -10, \"var2_bb_y1\": -10, "
            "\"var2_bb_z1\": -10, \"var2_bb_x2\": 10, \"var2_bb_y2\": 10, \"var2_bb_z2\": 10}},\n"
         << "\"tvis\": {\"type\": \"TypeForm\", \"attributes\": {\"var2_type\": \"VISUALIZATION\"}}";
    for (uint32_t node : assemblies_) {
        out_ << ",\n\"ra" << static_cast<long>(node) << "\": {\"type\": \"ItemRevision\", \"item_id\": \""
             << assembly_item(node) << "\"}";
    }
    for (const StructureBox& box : structure_boxes_) {
        const std::string n = std::to_string(box.node);
        Vec hi;
        for (int a = 0; a < 3; ++a) {
            hi[a] = round_to(box.hi[a], kMillimetres);
        }
        out_ << ",\n\"ds" << n << "\": {\"type\": \"PLMXML\", \"name\": \"" << assembly_item(box.node)
             << "/A\", \"refs\": {\"VAR2BBInfo\": [\"fs" << n << "\"]}},\n\"fs" << n << "\": {";
        write_box({0, 0, 0}, hi);
        relate("ra" + n, "IMAN_reference", "ds" + n);
    }
    for (size_t k = 0; k < parts_.size(); ++k) {
        write_part_objects(k);
    }
    for (size_t k = 0; k < modon_parts_.size(); ++k) {
        const ModOnPart& m = modon_parts_[k];
        const std::string n = std::to_string(k), host = "ra" + std::to_string(m.host);
        const std::string prefix = assembly_item(m.host) + "." + part_item(m.part) + ".";
        out_ << ",\n\"mi" << n << "\": {\"type\": \"ModOnForm\", \"attributes\": {\"var2_way_to_root\": ";
        write_string_list(m.way_to_root);
        out_ << ", \"var2_child_instname\": [], \"var2_child_matrix\": []}},\n\"mb" << n << "\": {";
        write_box(m.lo, m.hi);
        const std::string refs =
            "\"refs\": {\"KEPModOnInfo\": [\"mi" + n + "\"], \"VAR2BBInfo\": [\"mb" + n + "\"]}}";
        if (m.lod_first) {  // an alternative representation the filter passes over
            out_ << ",\n\"mq" << n << "\": {\"type\": \"ModOnPart\", \"name\": \"" << prefix << "LOD1/A\", "
                 << refs;
            relate(host, "KEP_mod_on", "mq" + n);
        }
        out_ << ",\n\"mp" << n << "\": {\"type\": \"ModOnPart\", \"name\": \"" << prefix << "M"
             << static_cast<long>(m.ordinal) << "/A\", " << refs;
        relate(host, "KEP_mod_on", "mp" + n);
    }
    for (size_t k = 0; k < products_.size(); ++k) {
        const ModOnProduct& m = products_[k];
        const std::string n = std::to_string(k);
        out_ << ",\n\"mf" << n << "\": {\"type\": \"ModOnForm\", \"attributes\": {\"var2_way_to_root\": ";
        write_string_list({m.occurrence_name});
        out_ << ", \"var2_child_instname\": ";
        write_string_list(m.child_names);
        out_ << ", \"var2_child_matrix\": ";
        write_string_list(m.child_matrices);
        out_ << "}},\n\"ms" << n << "\": {\"type\": \"ModOnProduct\", \"name\": \"" << assembly_item(m.host)
             << "." << assembly_item(m.child) << ".S/A\", \"refs\": {\"KEPModOnInfo\": [\"mf" << n << "\"]}}";
        relate("ra" + std::to_string(m.host), "KEP_mod_on", "ms" + n);
    }
    out_ << "},\n\"relation_types\": [\"IMAN_specification\", \"IMAN_reference\", \"IMAN_Rendering\", "
            "\"KEP_mod_on\"],\n\"relations\": ["
         << relations_ << "]\n";
}

void Generator::write_part_objects(size_t k) {
    const Part& part = parts_[k];
    const std::string n = std::to_string(k), item = part_item(static_cast<uint32_t>(k)), rev = "rp" + n;
    out_ << ",\n\"" << rev << "\": {\"type\": \"ItemRevision\", \"item_id\": \"" << item << "\"}";
    auto dataset = [&](const char* prefix, const char* type, const std::string& name, const char* refs) {
        out_ << ",\n\"" << prefix << n << "\": {\"type\": \"" << type << "\", \"name\": \"" << name << "\"";
        if (refs != nullptr) {
            out_ << ", \"refs\": {" << refs << "}";
        }
        out_ << "}";
    };
    const std::string box_ref = "\"VAR2BBInfo\": [\"fp" + n + "\"]";
    switch (part.kind) {
        case PartKind::CatLod:  // the alternative first: the filter has to pass over it
            dataset("dq", "Part3D", item + ".LOD1/A", box_ref.c_str());
            relate(rev, "IMAN_specification", "dq" + n);
            [[fallthrough]];
        case PartKind::Cat:
            dataset("dp", "Part3D", item + "/A", box_ref.c_str());
            relate(rev, "IMAN_specification", "dp" + n);
            break;
        case PartKind::AuxVisu:
            dataset("dv", "AuxPart", item + ".VIS/A",
                    "\"VAR2BBInfo\": [\"fvis\"], \"VAR2TypeInfo\": [\"tvis\"]");
            relate(rev, "IMAN_specification", "dv" + n);
            [[fallthrough]];
        case PartKind::Aux:
            dataset("dx", "AuxPart", item + "/A", box_ref.c_str());
            relate(rev, "IMAN_specification", "dx" + n);
            break;
        case PartKind::Bare:
            break;
    }
    if (part.kind != PartKind::Bare) {
        out_ << ",\n\"fp" << n << "\": {";
        write_box(part.lo, part.hi);
    }
    if (part.jt) {
        dataset("dj", "DirectModel", item + "/A", nullptr);
        relate(rev, "IMAN_Rendering", "dj" + n);
    }
}

}  // namespace kep_host::generation
