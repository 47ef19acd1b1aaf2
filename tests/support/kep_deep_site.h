// A site of one deep chain of lines, for tests and benchmarks of depth.
#ifndef KEP_DEEP_SITE_H
#define KEP_DEEP_SITE_H

#include <string>

namespace kep_test {

// A chain of lines below the top line: l1 / l2 / ... / l<depth> (depth at least 2), each placed
// one unit up in z. The representation "TOP.SUB.deep" of l<depth - 1>, hosted by the top line,
// places l<depth> 100 units up, so that the absolute transform of l<depth> walks every level.
inline std::string deep_chain_site(int depth) {
    // Built front to back: the opening of every level, then all the closing brackets.
    std::string chain;
    for (int i = 1; i <= depth; ++i) {
        const char* revision = i == depth ? "part" : (i == depth - 1 ? "sub" : "mid");
        chain += "{\"id\": \"l" + std::to_string(i) + "\", \"revision\": \"" + revision +
                 "/A\", \"occurrence_name\": \"n" + std::to_string(i) +
                 "\", \"transform\": \"1 0 0 0 0 1 0 0 0 0 1 0 0 0 1 1\"";
        chain += i == depth ? "}" : ", \"children\": [";
    }
    for (int i = 1; i < depth; ++i) {
        chain += "]}";
    }
    std::string way;
    for (int i = depth - 1; i >= 1; --i) {
        way += std::string(way.empty() ? "" : ", ") + "\"n" + std::to_string(i) + "\"";
    }
    return R"({"types": {"ModOnRep": "Dataset", "ModOnForm": "Form"},
               "relation_types": ["KEPModOnRel"],
               "preferences": {"KEPModOnProductDatasetRelation": "KEPModOnRel",
                               "KEPModOnProductDatasetType": "ModOnRep"},
               "objects": {
                 "top/A": {"type": "ItemRevision", "item_id": "TOP"},
                 "mid/A": {"type": "ItemRevision", "item_id": "MID"},
                 "sub/A": {"type": "ItemRevision", "item_id": "SUB"},
                 "part/A": {"type": "ItemRevision", "item_id": "PART"},
                 "f": {"type": "ModOnForm", "attributes": {"var2_way_to_root": [)" +
           way + R"(], "var2_child_instname": ["n)" + std::to_string(depth) +
           R"("], "var2_child_matrix": ["1 0 0 0 0 1 0 0 0 0 1 0 0 0 100 1"]}},
                 "r": {"type": "ModOnRep", "name": "TOP.SUB.deep", "refs": {"KEPModOnInfo": ["f"]}}},
               "relations": [["top/A", "KEPModOnRel", "r"]],
               "windows": {"w1": {"id": "top", "revision": "top/A", "children": [)" +
           chain + "]}}}";
}

}  // namespace kep_test

#endif
