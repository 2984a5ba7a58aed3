// shapes.cpp -- ".shp" collision shapes: loading, the cache by name, and
// instances placed in the world.
#include "sim/sim_local.h"

#include <cmath>
#include <map>

namespace {

// A sphere list longer than this is not a collision shape but a broken file.
constexpr int MAX_SHAPE_SPHERES = 65536;

std::map<std::string, std::unique_ptr<Shape>> &cache()
{
    static std::map<std::string, std::unique_ptr<Shape>> c;
    return c;
}
std::vector<const Shape *> &handles()
{
    static std::vector<const Shape *> h;
    return h;
}

bool read_shape(const char *name, Shape *out)
{
    data_file_ptr f(data_open(name, "rb"));
    if (!f)
        return false;
    int n = 0;
    if (data_scanf(f.get(), "%d", &n) != 1 || n < 0 || n > MAX_SHAPE_SPHERES)
        return false;
    out->spheres.resize(size_t(n));
    out->bounding_radius = 0;
    for (shape_sphere &s : out->spheres) {
        if (data_scanf(f.get(), "%f %f %f", &s.centre[0], &s.centre[1], &s.centre[2]) != 3)
            return false;
        if (data_scanf(f.get(), "%f %f %f %f", &s.radius, &s.friction, &s.stiffness, &s.damping) != 4)
            return false;
        const float v[7] = {s.centre[0], s.centre[1], s.centre[2], s.radius, s.friction, s.stiffness, s.damping};
        for (float x : v)
            if (!std::isfinite(x))
                return false;
        // A negative radius or spring would push the wrong way.
        if (s.radius < 0 || s.stiffness < 0 || s.damping < 0 || s.friction < 0)
            return false;
        float c = std::sqrt(s.centre[0] * s.centre[0] + s.centre[1] * s.centre[1] + s.centre[2] * s.centre[2]);
        out->bounding_radius = std::max(out->bounding_radius, c + s.radius);
    }
    return true;
}

} // namespace

const Shape *LoadShape(const char *name)
{
    if (!name || !*name)
        return nullptr;
    auto it = cache().find(name);
    if (it != cache().end())
        return it->second.get();
    auto s = std::make_unique<Shape>();
    if (!read_shape(name, s.get()))
        return nullptr;
    s->name = name;
    const Shape *p = s.get();
    cache().emplace(name, std::move(s));
    handles().push_back(p);
    return p;
}

ShapeInstance InstanceShape(const Shape *shape)
{
    ShapeInstance i;
    i.shape = shape;
    if (shape)
        i.world.resize(shape->spheres.size());
    return i;
}

void place_shape(ShapeInstance *s, const double pos[3], const double rot[12])
{
    if (!s->shape)
        return;
    s->world.resize(s->shape->spheres.size());
    for (size_t k = 0; k < s->world.size(); ++k) {
        const float *c = s->shape->spheres[k].centre;
        for (int r = 0; r < 3; ++r)
            s->world[k][size_t(r)] = pos[r] + rot[4 * r] * c[0] + rot[4 * r + 1] * c[1] + rot[4 * r + 2] * c[2];
    }
}

uint32_t load_shape_handle(const char *name)
{
    const Shape *s = LoadShape(name);
    if (!s)
        return 0;
    for (size_t k = 0; k < handles().size(); ++k)
        if (handles()[k] == s)
            return uint32_t(k + 1);
    return 0;
}

const Shape *shape_from_handle(uint32_t handle)
{
    if (handle == 0 || handle > handles().size())
        return nullptr;
    return handles()[handle - 1];
}

void shape_cache_clear()
{
    handles().clear();
    cache().clear();
}
