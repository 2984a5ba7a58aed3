#include "sim/tests/physics_test_util.h"

#include "content/content.h"

#include <gtest/gtest.h>

#include <filesystem>

Terrain make_terrain(int n, float spacing, const std::function<double(double, double)> &h, const TileType *tile)
{
    Terrain t;
    t.n = n;
    t.dim = (1 << (n + 1)) + 1;
    t.tiles = 1 << n;
    t.spacing = spacing;
    t.inv_spacing = 1.0f / spacing;
    t.extent = spacing * float(t.dim - 1);
    t.heights.resize(size_t(t.dim) * size_t(t.dim));
    for (int j = 0; j < t.dim; ++j)
        for (int i = 0; i < t.dim; ++i)
            t.heights[size_t(j) * size_t(t.dim) + size_t(i)] = float(h(i * double(spacing), j * double(spacing)));
    t.base_heights = t.heights;
    t.tilemap.assign(size_t(t.tiles) * size_t(t.tiles), 0);
    t.tile_types.push_back(tile ? *tile : tile_type_defaults());
    t.loaded = true;
    return t;
}

void install_starter_shapes()
{
    static bool done = false;
    if (done)
        return;
    std::filesystem::create_directories(search_dir(0));
    ASSERT_TRUE(generate_shapes(search_dir(0)));
    done = true;
}

RiderState *standing_rider(int slot, const char *model, const Terrain &t, double x, double z, double heading)
{
    int idx = bike_model_index(model);
    if (idx < 0 || !build_rider(slot, idx))
        return nullptr;
    RiderState *r = rider_slot(slot);
    setup_set_defaults();
    rider_setup_params p = rider_build_params(bike_models()[size_t(idx)]);
    apply_setup_params(&p, bike_models()[size_t(idx)], true);
    apply_rider_params(r, p);
    // raised from the ground in quarter feet until nothing touches
    double y = terrain_height_at(&t, float(x), float(z));
    for (int k = 0; k < 400; ++k) {
        place_rider(r, x, y, z, heading);
        if (!rider_touches_terrain(r, &t))
            break;
        y += 0.25;
    }
    return r;
}

void run_tics(const Terrain *t, int n, int32_t *tic)
{
    for (int k = 0; k < n; ++k) {
        physics_tic_params p;
        p.terrain = t;
        p.tic = (*tic)++;
        physics_tic(p);
    }
}
