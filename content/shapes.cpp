// shapes.cpp -- the collision shapes of the bike parts that the bike models
// name: spheres laid along each part's geometry, in the part's body
// coordinates (the model position less the body's rest position), so that
// what collides matches the bodies the simulation builds. Also the shapes
// of the track objects: the starting-gate piece, a hay bale and a flag
// tower, in their own model coordinates (y up from the ground, z towards
// the back, the way a bike at rest faces).

#include "content/content.h"
#include "sim/sim.h"

#include <cmath>
#include <cstdio>
#include <numbers>
#include <string>
#include <vector>

namespace {

struct sphere {
    double x, y, z, r, friction, stiffness, damping;
};

constexpr double k_friction = 0.6, k_stiffness = 2500, k_damping = 50;

// A sphere at a model-coordinate point, relative to a body at `body`.
sphere at(vec3f body, double x, double y, double z, double r, double friction = k_friction)
{
    return {x - body.x, y - body.y, z - body.z, r, friction, k_stiffness, k_damping};
}

bool write_shape(const char *out_dir, const char *name, const std::vector<sphere> &s)
{
    std::string path = std::string(out_dir) + "/" + name;
    FILE *f = std::fopen(path.c_str(), "wb");
    if (!f) {
        std::fprintf(stderr, "kessrun_content: can't write %s\n", path.c_str());
        return false;
    }
    std::fprintf(f, "%d\n", int(s.size()));
    for (const sphere &p : s)
        std::fprintf(f, "%.4f %.4f %.4f %.4f %.3f %.1f %.1f\n", p.x, p.y, p.z, p.r, p.friction, p.stiffness,
                     p.damping);
    return std::fclose(f) == 0;
}

// Eight spheres of the tube radius around the ring, in the wheel plane.
std::vector<sphere> wheel(double ring, double tube)
{
    std::vector<sphere> s;
    for (int k = 0; k < 8; ++k) {
        double a = k * std::numbers::pi / 4;
        s.push_back({0, ring * std::cos(a), ring * std::sin(a), tube, 1.0, k_stiffness, k_damping});
    }
    return s;
}

// One starting-gate piece, 3 ft wide: a grate hinged on the ground at the
// model origin and lying back from it towards the riders when down. Raised,
// it turns up about the hinge and its back edge stands in front of the
// front wheels on the grid.
std::vector<sphere> starting_gate()
{
    std::vector<sphere> s;
    for (int row = 0; row < 7; ++row)
        for (int col = 0; col < 6; ++col)
            s.push_back({-1.25 + 0.5 * col, 0.25, 0.4 + 0.5 * row, 0.25, 0.5, 5000, 300});
    return s;
}

// A big square bale, 6 ft long (along x), 2.4 ft deep and high: soft and
// grippy.
std::vector<sphere> hay_bale()
{
    std::vector<sphere> s;
    for (int k = 0; k < 4; ++k)
        s.push_back({-1.8 + 1.2 * k, 1.2, 0, 1.2, 0.9, 2500, 150});
    return s;
}

// A scaffold tower of four legs 3.5 ft apart, 14.7 ft high.
std::vector<sphere> flag_tower()
{
    std::vector<sphere> s;
    for (int leg = 0; leg < 4; ++leg) {
        double x = leg & 1 ? 1.75 : -1.75, z = leg & 2 ? 1.75 : -1.75;
        for (int k = 0; k < 21; ++k)
            s.push_back({x, 0.35 + 0.7 * k, z, 0.35, 0.4, 5000, 300});
    }
    return s;
}

} // namespace

bool generate_shapes(const char *out_dir)
{
    // Every model shares one geometry: the first row stands for all.
    const BikeModel &m = bike_models()[0];
    double half = m.fork_tube_spacing / 2;

    std::vector<sphere> frame = {
        at(m.frame, 0, m.upper_fork.y - 0.15, m.upper_fork.z + 0.2, 0.3),  // steering head
        at(m.frame, 0, 2.6, 3.0, 0.4),                                     // tank
        at(m.frame, 0, 2.7, 4.2, 0.35),                                    // seat
        at(m.frame, 0, 2.8, 5.2, 0.3),                                     // rear fender
        at(m.frame, 0, m.frame.y - 0.38, m.frame.z - 0.2, 0.45),           // engine
        at(m.frame, -m.frame_box[0] * 0.6, 1.45, 4.0, 0.2),                // pegs
        at(m.frame, m.frame_box[0] * 0.6, 1.45, 4.0, 0.2),
    };

    vec3f uf = m.upper_fork;
    std::vector<sphere> upper = {
        {m.left_grip.x, m.left_grip.y, m.left_grip.z, 0.2, k_friction, k_stiffness, k_damping},
        {m.right_grip.x, m.right_grip.y, m.right_grip.z, 0.2, k_friction, k_stiffness, k_damping},
        at(uf, -half, uf.y, uf.z, 0.15),
        at(uf, half, uf.y, uf.z, 0.15),
    };

    // The lower legs run from the lower fork point towards the axle.
    vec3f lf = m.lower_fork;
    std::vector<sphere> lower;
    for (double t : {0.0, 0.5}) {
        double y = lf.y + t * (m.front_wheel.y - lf.y), z = lf.z + t * (m.front_wheel.z - lf.z);
        lower.push_back(at(lf, -half, y, z, 0.15));
        lower.push_back(at(lf, half, y, z, 0.15));
    }

    vec3f sa = m.swing_arm, pv = m.swing_arm_pivot, ax = m.rear_wheel;
    std::vector<sphere> arm;
    for (double t : {0.2, 0.5, 0.8}) {
        double y = pv.y + t * (ax.y - pv.y), z = pv.z + t * (ax.z - pv.z);
        arm.push_back(at(sa, -m.frame_box[0] / 2, y, z, 0.12));
        arm.push_back(at(sa, m.frame_box[0] / 2, y, z, 0.12));
    }

    vec3f rd = m.rider;
    std::vector<sphere> rider = {
        at(rd, 0, rd.y, rd.z, 0.7),               // torso
        at(rd, 0, rd.y + 1.4, rd.z - 0.5, 0.45),  // head
        at(rd, 0, rd.y - 1.0, rd.z + 0.3, 0.5),   // hips
    };

    return write_shape(out_dir, "generic_frame.shp", frame) &&
           write_shape(out_dir, "generic_fork_upper.shp", upper) &&
           write_shape(out_dir, "generic_fork_lower.shp", lower) &&
           write_shape(out_dir, "generic_swingarm.shp", arm) &&
           write_shape(out_dir, "front_wheel.shp", wheel(m.front_ring_radius, m.front_tube_radius)) &&
           write_shape(out_dir, "rear_wheel.shp", wheel(m.rear_ring_radius, m.rear_tube_radius)) &&
           write_shape(out_dir, "generic_rider.shp", rider) &&
           write_shape(out_dir, "startgate.shp", starting_gate()) &&
           write_shape(out_dir, "haybale.shp", hay_bale()) &&
           write_shape(out_dir, "flagtower.shp", flag_tower());
}
