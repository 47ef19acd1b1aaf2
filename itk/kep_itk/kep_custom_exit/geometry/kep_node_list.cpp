// The node list that collects lines with boxes: one node and one object record per line, both
// MEM_alloc blocks.
#include <cstring>

#include "geometry/kep_geometry.h"

extern "C" kep_node_t* kep_node_list_prepend(kep_node_t* head, tag_t tag, const kep_bbox_t* box,
                                             const kep_matrix_t* matrix) {
    if (box == nullptr || matrix == nullptr) {
        return head;
    }
    kep_node_t* node = static_cast<kep_node_t*>(MEM_alloc(static_cast<int>(sizeof(kep_node_t))));
    kep_object3d_t* object =
        static_cast<kep_object3d_t*>(MEM_alloc(static_cast<int>(sizeof(kep_object3d_t))));
    if (node == nullptr || object == nullptr) {
        if (node != nullptr) {
            MEM_free(node);
        }
        if (object != nullptr) {
            MEM_free(object);
        }
        return head;
    }
    object->bbox = *box;
    std::memcpy(object->matrix, matrix->m, sizeof object->matrix);  // rows 0 to 2
    object->BB = 1;
    node->tag = tag;
    node->object = object;
    node->next = head;
    return node;
}

extern "C" void kep_node_list_release(kep_node_t* head) {
    while (head != nullptr) {
        kep_node_t* next = head->next;
        if (head->object != nullptr) {
            MEM_free(head->object);
        }
        MEM_free(head);
        head = next;
    }
}

extern "C" void kep_query_object(const double* box, kep_object3d_t* object) {
    memset(object, 0, sizeof(*object));
    object->bbox.x1 = box[0];
    object->bbox.y1 = box[1];
    object->bbox.z1 = box[2];
    object->bbox.x2 = box[3];
    object->bbox.y2 = box[4];
    object->bbox.z2 = box[5];
    object->matrix[0] = 1.0;
    object->matrix[5] = 1.0;
    object->matrix[10] = 1.0;
    object->BB = 1;
}
