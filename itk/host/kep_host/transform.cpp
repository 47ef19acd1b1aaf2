// The transforms and boxes of a scene (scene.h).
#include <cmath>
#include <cstdio>
#include <cstdlib>

#include "scene.h"

namespace kep_host {

bool Transform::from_text(const char* text, Transform* out) {
    *out = Transform();
    if (text == nullptr) {
        return false;
    }
    double v[16];
    int read = 0;
    const char* at = text;
    // strtod follows the process locale; kep-host never changes it from "C".
    for (; read < 16; ++read) {
        char* end = nullptr;
        v[read] = std::strtod(at, &end);
        if (end == at) {
            break;
        }
        at = end;
    }
    if (read < 16) {
        return false;
    }
    for (int i = 0; i < 16; ++i) {
        out->m[i % 4][i / 4] = v[i];
    }
    return true;
}

std::string Transform::to_text() const {
    std::string text;
    char number[32];
    for (int i = 0; i < 16; ++i) {
        std::snprintf(number, sizeof number, "%.16g", m[i % 4][i / 4]);
        text += (i == 0 ? "" : " ") + std::string(number);
    }
    return text;
}

Transform Transform::operator*(const Transform& child) const {
    Transform product;
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 4; ++c) {
            product.m[r][c] = m[r][0] * child.m[0][c] + m[r][1] * child.m[1][c] + m[r][2] * child.m[2][c] +
                              (c == 3 ? m[r][3] : 0.0);
        }
    }
    return product;
}

Vec3 Transform::apply(const Vec3& p) const {
    Vec3 q;
    for (int r = 0; r < 3; ++r) {
        q[r] = m[r][0] * p[0] + m[r][1] * p[1] + m[r][2] * p[2] + m[r][3];
    }
    return q;
}

bool Transform::is_identity_rotation() const {
    for (int r = 0; r < 3; ++r) {
        for (int c = 0; c < 3; ++c) {
            if (std::abs(m[r][c] - (r == c ? 1.0 : 0.0)) > 1e-9) {
                return false;
            }
        }
    }
    return true;
}

std::array<Vec3, 8> box_corners(const Box& box, const Transform& placement, double grow) {
    Vec3 centre;
    Vec3 half;
    for (int k = 0; k < 3; ++k) {
        centre[k] = (box.lo[k] + box.hi[k]) / 2;
        half[k] = (box.hi[k] - box.lo[k]) / 2 + grow;
    }
    std::array<Vec3, 8> corners;
    for (int i = 0; i < 8; ++i) {
        Vec3 p;
        for (int k = 0; k < 3; ++k) {
            p[k] = centre[k] + (((i >> k) & 1) != 0 ? half[k] : -half[k]);
        }
        corners[static_cast<size_t>(i)] = placement.apply(p);
    }
    return corners;
}

}  // namespace kep_host
