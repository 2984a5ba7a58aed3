// Terrain draw: the patches chosen by the level of detail, each one drawn
// from the shared mesh with the stitching variant its neighbours need and
// the detail level that holds it; the wireframe pass; and a draw from a
// whole camera for the views.
#include "render/render_local.h"
#include "track/track.h"

#include <cmath>

namespace {

void normalise(float v[3]) {
    float l = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (l > 0)
        for (int k = 0; k < 3; ++k)
            v[k] /= l;
}

void cross(const float a[3], const float b[3], float out[3]) {
    out[0] = a[1] * b[2] - a[2] * b[1];
    out[1] = a[2] * b[0] - a[0] * b[2];
    out[2] = a[0] * b[1] - a[1] * b[0];
}

float dot(const float a[3], const float b[3]) {
    return a[0] * b[0] + a[1] * b[1] + a[2] * b[2];
}

// The first composed detail level whose region holds the node; the whole
// level last.
const terrain_detail_level *level_for(const terrain_gpu *g, int dim, const terrain_patch &p) {
    int s = (dim - 1) >> p.level;
    int x0 = p.a * s, z0 = p.b * s;
    for (const terrain_detail_level &l : g->levels)
        if (l.composed && x0 >= l.x && z0 >= l.z && x0 + s <= l.x + l.size && z0 + s <= l.z + l.size)
            return &l;
    return g->levels.empty() ? nullptr : &g->levels.back();
}

void draw_patches(const Terrain *t, const terrain_gpu *g, bool lines) {
    const terrain_detail_level *bound = nullptr;
    for (const terrain_patch &p : g->patches) {
        float s = float((t->dim - 1) >> p.level) * t->spacing;
        krglMeshOffset(float(p.a) * s, float(p.b) * s, s);
        if (!lines) {
            const terrain_detail_level *l = level_for(g, t->dim, p);
            if (l && l != bound) {
                krglActiveTexture(GL_TEXTURE0);
                krglBindTexture(GL_TEXTURE_2D, l->colour);
                krglActiveTexture(GL_TEXTURE1);
                krglBindTexture(GL_TEXTURE_2D, l->normal);
                krglActiveTexture(GL_TEXTURE2);
                krglBindTexture(GL_TEXTURE_2D, l->specular);
                krglActiveTexture(GL_TEXTURE0);
                krglTexOffset(-float(l->x) * t->spacing, -float(l->z) * t->spacing,
                              1.0f / (float(l->size) * t->spacing));
                bound = l;
            }
        }
        size_t v = size_t(p.flags);
        krglBindVertexArray(lines ? g->line_vao[v] : g->tri_vao[v]);
        krglDrawElements(lines ? GL_LINES : GL_TRIANGLES, lines ? g->line_indices[v] : g->tri_indices[v],
                         GL_UNSIGNED_SHORT, 0);
        if (!lines)
            krgl_stats().ground_polygons.count += g->tri_indices[v] / 3;
    }
    krglBindVertexArray(0);
}

}  // namespace

void terrain_draw(Terrain *t, const float camera[3], const float view_dir[3], const track_lighting *light) {
    if (!t->loaded || !t->render || !krgl.ready)
        return;
    terrain_gpu *g = terrain_gpu_of(t);
    if (!g->heights || !g->tri_vao[0])
        return;
    g->camera = {camera[0], camera[1], camera[2]};
    g->have_camera = true;

    krglBindBuffer(GL_ARRAY_BUFFER, g->stream);
    krglActiveTexture(GL_TEXTURE3);
    krglBindTexture(GL_TEXTURE_2D, g->heights);
    krglActiveTexture(GL_TEXTURE0);

    std::vector<terrain_region> regions;
    for (const terrain_detail_level &l : g->levels)
        regions.push_back({l.x, l.z, l.size});
    terrain_mark_splits(t, g->mesh_exponent, camera, regions.data(), int(regions.size()));
    terrain_select_patches(t, g->mesh_exponent, camera, view_dir, &g->patches);

    krglDisable(GL_BLEND);
    krglUseProgram(KRGL_TERRAIN);
    track_lighting defaults;
    const track_lighting &lit = light ? *light : defaults;
    const float ambient[4] = {lit.ambient[0], lit.ambient[1], lit.ambient[2], 1.0f};
    krglAmbient(ambient);
    krglDiffuse(lit.sun_colour.data());
    krglSpecularColor(lit.sun_colour.data());
    krglTerrainSpacing(t->spacing);
    krglHeightsDimInv(1.0f / float(t->dim - 1));
    draw_patches(t, g, false);

    if (terrain_render_config().wireframe) {
        krglActiveTexture(GL_TEXTURE0);
        krglBindTexture(GL_TEXTURE_2D, krgl_black_texture());
        draw_patches(t, g, true);
    }

    krglUseProgram(KRGL_UNLIT);
    for (GLenum unit : {GL_TEXTURE3, GL_TEXTURE2, GL_TEXTURE1, GL_TEXTURE0}) {
        krglActiveTexture(unit);
        krglBindTexture(GL_TEXTURE_2D, 0);
    }
    krglBindBuffer(GL_ARRAY_BUFFER, 0);
}

void terrain_draw_view(Terrain *t, const terrain_camera &c, const track_lighting *light) {
    if (!krgl.ready)
        return;
    float f[3] = {c.forward[0], c.forward[1], c.forward[2]};
    float up[3] = {c.up[0], c.up[1], c.up[2]};
    normalise(f);
    float s[3], u[3];
    cross(f, up, s);
    normalise(s);
    cross(s, f, u);
    const float *e = c.position;
    const float view[16] = {s[0], u[0], -f[0], 0, s[1], u[1], -f[1], 0, s[2], u[2], -f[2], 0,
                            -dot(s, e), -dot(u, e), dot(f, e), 1};
    krglViewport(c.x, c.y, c.width, c.height);
    float top = c.near_plane * std::tan(c.fov_y * 3.14159265f / 360.0f);
    float right = top * float(c.width) / float(c.height > 0 ? c.height : 1);
    krglMatrixMode(KRGL_PROJECTION);
    krglLoadIdentity();
    krglFrustum(-right, right, -top, top, c.near_plane, c.far_plane);
    krglMatrixMode(KRGL_MODELVIEW);
    krglLoadMatrix(view);
    krglEnable(GL_DEPTH_TEST);
    krglDepthMask(true);

    track_lighting defaults;
    const track_lighting &lit = light ? *light : defaults;
    krglUseProgram(KRGL_TERRAIN);
    const float *sun = lit.sun_vector.data();
    const float eye_sun[3] = {dot(s, sun), dot(u, sun), -dot(f, sun)};
    krglLightPosition(eye_sun);
    krglFog(lit.fog_colour.data(), lit.fog_density);
    terrain_draw(t, c.position, f, &lit);
}
