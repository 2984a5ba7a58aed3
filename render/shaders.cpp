// The six shader programs. Sources are written in the OpenGL ES 3.0 shading
// language; on desktop GL the first line is cut so that the commented
// "#version 150" line below it becomes the version line.
#include "platform/platform.h"
#include "render/render_local.h"

#include <string>

namespace {

#define KR_HEADER "#version 300 es\n//#version 150\n#define MAX_BONE 32\n"
#define KR_FRAGMENT_HEADER KR_HEADER "#ifdef GL_ES\nprecision mediump float;\n#endif\n"

// Fog from the eye distance; alpha is not fogged.
#define KR_FOG                                                                                                    \
    "uniform vec3 u_fog_color;\n"                                                                                 \
    "uniform float u_fog_density;\n"                                                                              \
    "vec3 fog(vec3 c) {\n"                                                                                        \
    "    float z = gl_FragCoord.z / gl_FragCoord.w;\n"                                                            \
    "    float f = clamp(exp2(-1.4426950408889634 * u_fog_density * z), 0.0, 1.0);\n"                             \
    "    return mix(u_fog_color, c, f);\n"                                                                        \
    "}\n"

// Normal- and specular-mapped lighting inputs shared by the model programs.
#define KR_MODEL_FRAGMENT_INPUTS                                                                                  \
    "in vec3 v_normal;\n"                                                                                         \
    "in vec3 v_tangent;\n"                                                                                        \
    "in vec3 v_viewer;\n"                                                                                         \
    "in vec2 v_texcoord;\n"                                                                                       \
    "uniform sampler2D u_tex;\n"                                                                                  \
    "uniform sampler2D u_nmap;\n"                                                                                 \
    "out vec4 frag_color;\n"                                                                                      \
    "vec3 mapped_normal() {\n"                                                                                    \
    "    vec3 n = normalize(v_normal);\n"                                                                         \
    "    vec3 t = normalize(v_tangent - n * dot(n, v_tangent));\n"                                                \
    "    vec3 b = cross(n, t);\n"                                                                                 \
    "    return normalize(mat3(t, b, n) * (texture(u_nmap, v_texcoord).rgb * 2.0 - 1.0));\n"                     \
    "}\n"

const char unlit_vs[] = KR_HEADER R"(
in vec4 vattr_position;
in vec4 vattr_color;
in vec4 vattr_texcoord;
uniform mat4 u_projection;
uniform mat4 u_modelview;
uniform mat4 u_texture0;
out vec4 v_color;
out vec2 v_texcoord;
void main() {
    v_color = vattr_color;
    v_texcoord = (u_texture0 * vattr_texcoord).st;
    gl_Position = u_projection * (u_modelview * vattr_position);
}
)";

const char unlit_fs[] = KR_FRAGMENT_HEADER KR_FOG R"(
in vec4 v_color;
in vec2 v_texcoord;
uniform sampler2D u_tex;
out vec4 frag_color;
void main() {
    vec4 c = v_color * texture(u_tex, v_texcoord);
    frag_color = vec4(fog(c.rgb), c.a);
}
)";

const char skinned_vs[] = KR_HEADER R"(
in vec4 vattr_position;
in vec3 vattr_normal;
in vec2 vattr_texcoord;
in vec3 vattr_tangent;
in vec4 vattr_weights;
in vec4 vattr_bones;
uniform int u_nbones;
uniform vec3 u_bone_c[MAX_BONE];
uniform vec3 u_bone_t[MAX_BONE];
uniform mat3 u_bone_r[MAX_BONE];
uniform mat4 u_projection;
uniform mat4 u_modelview;
out vec3 v_normal;
out vec3 v_tangent;
out vec3 v_viewer;
out vec2 v_texcoord;
void main() {
    vec4 p = vattr_position;
    vec3 n = vattr_normal;
    vec3 t = vattr_tangent;
    if (u_nbones > 0) {
        vec3 sp = vec3(0.0);
        n = vec3(0.0);
        t = vec3(0.0);
        for (int i = 0; i < 4; i++) {
            float w = vattr_weights[i];
            int b = clamp(int(vattr_bones[i]), 0, MAX_BONE - 1);
            mat3 r = u_bone_r[b];
            sp += w * (r * (vattr_position.xyz - u_bone_c[b]) + u_bone_t[b]);
            n += w * (r * vattr_normal);
            t += w * (r * vattr_tangent);
        }
        p = vec4(sp, 1.0);
    }
    mat3 m = mat3(u_modelview);
    v_normal = normalize(m * n);
    v_tangent = normalize(m * t);
    vec4 e = u_modelview * p;
    v_viewer = e.xyz;
    v_texcoord = vattr_texcoord;
    gl_Position = u_projection * e;
}
)";

const char norm_spec_lit_fs[] = KR_FRAGMENT_HEADER KR_FOG KR_MODEL_FRAGMENT_INPUTS R"(
uniform sampler2D u_smap;
uniform vec4 u_ambient;
uniform vec3 u_diffuse;
uniform float u_shininess;
uniform vec3 u_specular_color;
uniform vec3 u_light_position;
void main() {
    vec3 n = mapped_normal();
    float ndl = dot(n, u_light_position);
    float rdl = max(dot(reflect(normalize(v_viewer), n), u_light_position), 0.0);
    if (ndl < 0.0) {
        ndl = 0.0;
        rdl = 0.0;
    }
    vec4 c = (u_ambient + vec4(u_diffuse * ndl, 0.0)) * texture(u_tex, v_texcoord);
    if (c.a < 0.75)
        discard;
    vec4 s = texture(u_smap, v_texcoord);
    s.rgb *= u_specular_color;
    float e = s.a * 128.0 + 0.125;
    if (e >= 127.875)
        e = u_shininess;
    c.rgb += s.rgb * pow(rdl, e);
    frag_color = vec4(fog(c.rgb), c.a);
}
)";

const char norm_env_fs[] = KR_FRAGMENT_HEADER KR_MODEL_FRAGMENT_INPUTS R"(
uniform mat3 u_envmat;
uniform vec3 u_specular_color;
void main() {
    vec3 n = mapped_normal();
    vec3 v = normalize(u_envmat * reflect(v_viewer, n));
    vec2 d = v.xz;
    d = dot(d, d) > 0.0 ? normalize(d) : vec2(0.0);
    vec2 tc = d * acos(clamp(v.y, -1.0, 1.0)) * 0.15915494309189535 + 0.5;
    frag_color = texture(u_tex, tc) * vec4(u_specular_color, 1.0);
}
)";

const char terrain_normals_vs[] = KR_HEADER R"(
in vec4 vattr_position;
in vec4 vattr_texcoord;
uniform mat4 u_projection;
uniform mat4 u_modelview;
uniform mat4 u_texture1;
out vec2 v_texcoord;
out vec2 v_tc;
void main() {
    v_texcoord = vattr_texcoord.st;
    vec4 s = u_texture1 * vattr_position;
    v_tc = s.xy / s.w;
    gl_Position = u_projection * (u_modelview * vattr_position);
}
)";

const char terrain_normals_fs[] = KR_FRAGMENT_HEADER R"(
in vec2 v_texcoord;
in vec2 v_tc;
uniform sampler2D u_tex;
uniform sampler2D u_shadows;
out vec4 frag_color;
void main() {
    vec2 d = vec2(dFdx(v_texcoord.s), -dFdy(v_texcoord.s));
    d = dot(d, d) > 0.0 ? normalize(d) : vec2(1.0, 0.0);
    mat2 m = mat2(d, vec2(-d.y, d.x));
    vec4 c = texture(u_tex, v_texcoord);
    vec3 n = c.xzy * 2.0 - 1.0;
    n.x = -n.x;
    n.xz = n.xz * m;
    float shadow = 1.0 - texture(u_shadows, v_tc).r;
    n = normalize(n);
    if (length(n.xz) > 126.0 / 128.0) {
        n.y = 0.0;
        n = normalize(n) * (126.0 / 128.0);
    }
    vec3 rgb = (n + 1.0) * 0.5;
    frag_color = vec4(rgb.r, shadow, rgb.b, c.a);
}
)";

const char terrain_vs[] = KR_HEADER R"(
in vec4 vattr_position;
uniform highp sampler2D u_heights;
uniform highp float u_heights_dim_inv;
uniform mat4 u_projection;
uniform mat4 u_modelview;
uniform float u_spacing_inv;
uniform vec2 u_texoffset;
uniform float u_texscale;
uniform vec2 u_meshoffset;
uniform float u_meshscale;
out vec2 v_texcoord;
out vec2 v_h;
out vec3 v_viewer;
out mat3 v_modelview;
void main() {
    vec3 v = vattr_position.xyz * u_meshscale + vec3(u_meshoffset, 0.0);
    v_texcoord = (v.xy + u_texoffset) * u_texscale;
    v_h = v.xy * u_spacing_inv;
    float y = textureLod(u_heights, (v_h + 0.5) * u_heights_dim_inv, 0.0).r;
    vec4 e = u_modelview * vec4(v.x, y, v.y, 1.0);
    v_viewer = e.xyz;
    v_modelview = mat3(u_modelview);
    gl_Position = u_projection * e;
}
)";

const char terrain_fs[] = KR_FRAGMENT_HEADER KR_FOG R"(
in vec2 v_texcoord;
in vec2 v_h;
in vec3 v_viewer;
in mat3 v_modelview;
uniform sampler2D u_tex;
uniform sampler2D u_nmap;
uniform sampler2D u_smap;
uniform highp sampler2D u_heights;
uniform highp float u_heights_dim_inv;
uniform highp float u_spacing_inv;
uniform vec4 u_ambient;
uniform vec3 u_diffuse;
uniform vec3 u_specular_color;
uniform vec3 u_light_position;
out vec4 frag_color;
float height_at(vec2 h) { return texture(u_heights, (h + 0.5) * u_heights_dim_inv).r; }
void main() {
    float spacing = 1.0 / u_spacing_inv;
    float east = height_at(v_h + vec2(0.5, 0.0));
    float west = height_at(v_h - vec2(0.5, 0.0));
    float south = height_at(v_h + vec2(0.0, 0.5));
    float north = height_at(v_h - vec2(0.0, 0.5));
    vec3 xa = vec3(spacing, east - west, 0.0);
    vec3 za = vec3(0.0, south - north, spacing);
    vec3 r1 = normalize(cross(za, xa));
    vec3 r2 = normalize(cross(vec3(1.0, 0.0, 0.0), r1));
    vec3 r0 = cross(r1, r2);
    vec4 nm = texture(u_nmap, v_texcoord);
    float len = nm.g;
    vec3 n = nm.rgb * 2.0 - 1.0;
    n.y = sqrt(max(0.0, 1.0 - n.x * n.x - n.z * n.z));
    n = normalize(v_modelview * (mat3(r0, r1, r2) * n));
    float ndl = dot(n, u_light_position);
    float rdl = max(dot(reflect(normalize(v_viewer), n), u_light_position), 0.0);
    if (ndl < 0.0) {
        ndl = 0.0;
        rdl = 0.0;
    }
    vec4 c = (u_ambient + vec4(u_diffuse * ndl * len, 0.0)) * texture(u_tex, v_texcoord);
    vec4 s = texture(u_smap, v_texcoord);
    float e = s.g * 128.0 + 0.125;
    c.rgb += s.r * u_specular_color * pow(rdl, e) * len;
    frag_color = vec4(fog(c.rgb), c.a);
}
)";

const char tilemap_vs[] = KR_HEADER R"(
in vec4 vattr_position;
uniform mat4 u_projection;
uniform mat4 u_modelview;
uniform float u_spacing_inv;
out vec2 v_tile;
void main() {
    v_tile = vattr_position.xz * u_spacing_inv * 0.5;
    gl_Position = u_projection * (u_modelview * vattr_position);
}
)";

const char tilemap_fs[] = KR_FRAGMENT_HEADER R"(
in highp vec2 v_tile;
uniform sampler2D u_tex;
uniform sampler2D u_tilemap;
uniform highp float u_tilemap_dim_inv;
uniform highp float u_atlas_dim_inv;
out vec4 frag_color;
void main() {
    highp vec2 i = floor(v_tile);
    highp vec2 f = v_tile - i;
    highp float t = texture(u_tilemap, (i + 0.5) * u_tilemap_dim_inv).r * 255.0;
    t = floor(t + 0.5) * u_atlas_dim_inv;
    highp vec2 atlas = vec2(fract(t), floor(t) * u_atlas_dim_inv);
    f = f * (7.0 / 8.0) + 1.0 / 16.0;
    frag_color = texture(u_tex, atlas + f * u_atlas_dim_inv);
}
)";

const shader_source sources[KRGL_PROGRAMS] = {
    {"", "", ""},
    {"unlit", unlit_vs, unlit_fs},
    {"norm_env", skinned_vs, norm_env_fs},
    {"norm_spec_lit", skinned_vs, norm_spec_lit_fs},
    {"terrain_normals", terrain_normals_vs, terrain_normals_fs},
    {"terrain", terrain_vs, terrain_fs},
    {"tilemap", tilemap_vs, tilemap_fs},
};

struct sampler_unit {
    const char *name;
    int unit;
};
const sampler_unit samplers[KRGL_PROGRAMS][4] = {
    {},
    {{"u_tex", 0}},
    {{"u_tex", 0}, {"u_nmap", 1}},
    {{"u_tex", 0}, {"u_nmap", 1}, {"u_smap", 2}},
    {{"u_tex", 0}, {"u_shadows", 1}},
    {{"u_tex", 0}, {"u_nmap", 1}, {"u_smap", 2}, {"u_heights", 3}},
    {{"u_tex", 0}, {"u_tilemap", 1}},
};

const struct {
    const char *name;
    GLuint location;
} attributes[] = {
    {"vattr_position", ATTR_POSITION}, {"vattr_normal", ATTR_NORMAL},   {"vattr_color", ATTR_COLOR},
    {"vattr_texcoord", ATTR_TEXCOORD}, {"vattr_tangent", ATTR_TANGENT}, {"vattr_weights", ATTR_WEIGHTS},
    {"vattr_bones", ATTR_BONES},
};

std::string info_log(GLuint object, bool program)
{
    GLint length = 0;
    if (program) {
        gl.GetProgramiv(object, GL_INFO_LOG_LENGTH, &length);
    } else {
        gl.GetShaderiv(object, GL_INFO_LOG_LENGTH, &length);
    }
    if (length <= 1) {
        return {};
    }
    std::string log(size_t(length), '\0');
    GLsizei got = 0;
    if (program) {
        gl.GetProgramInfoLog(object, length, &got, log.data());
    } else {
        gl.GetShaderInfoLog(object, length, &got, log.data());
    }
    log.resize(size_t(got > 0 ? got : 0));
    return log;
}

GLuint compile(GLenum type, const char *source, const char *label, const char *name)
{
    GLuint shader = gl.CreateShader(type);
    if (!shader) {
        return 0;
    }
    const char *text = dialect_source(source, krgl.facts.es);
    gl.ShaderSource(shader, 1, &text, nullptr);
    gl.CompileShader(shader);
    std::string log = info_log(shader, false);
    if (!log.empty()) {
        velk_log("%s for %s:\n%s\n", label, name, log.c_str());
    }
    GLint ok = GL_FALSE;
    gl.GetShaderiv(shader, GL_COMPILE_STATUS, &ok);
    if (!ok) {
        gl.DeleteShader(shader);
        return 0;
    }
    return shader;
}

bool build(int index)
{
    const shader_source &s = sources[index];
    krgl_program_slot &slot = krgl.programs[size_t(index)];
    velk_log("Creating \"%s\" shader\n", s.name);
    slot.vertex_shader = compile(GL_VERTEX_SHADER, s.vertex, "vertex shader status", s.name);
    if (!slot.vertex_shader) {
        return false;
    }
    slot.fragment_shader = compile(GL_FRAGMENT_SHADER, s.fragment, "fragment shader status", s.name);
    if (!slot.fragment_shader) {
        return false;
    }
    slot.program = gl.CreateProgram();
    if (!slot.program) {
        return false;
    }
    gl.AttachShader(slot.program, slot.vertex_shader);
    gl.AttachShader(slot.program, slot.fragment_shader);
    for (const auto &a : attributes) {
        gl.BindAttribLocation(slot.program, a.location, a.name);
    }
    gl.LinkProgram(slot.program);
    std::string log = info_log(slot.program, true);
    if (!log.empty()) {
        velk_log("%s for %s:\n%s\n", "link status", s.name, log.c_str());
    }
    GLint ok = GL_FALSE;
    gl.GetProgramiv(slot.program, GL_LINK_STATUS, &ok);
    slot.location.fill(-2);
    return ok == GL_TRUE;
}

} // namespace

const shader_source &program_source(int index) { return sources[index >= 1 && index < KRGL_PROGRAMS ? index : 0]; }

const char *dialect_source(const char *source, bool es)
{
    // "#version 300 es\n//" is 18 characters.
    return es ? source : source + 18;
}

bool krglCreatePrograms()
{
    if (!krgl.ready) {
        return false;
    }
    for (int i = 1; i < KRGL_PROGRAMS; i++) {
        if (!build(i)) {
            krglDeletePrograms();
            return false;
        }
    }
    for (int i = 1; i < KRGL_PROGRAMS; i++) {
        krglUseProgram(i);
        for (const sampler_unit &s : samplers[i]) {
            if (!s.name || s.unit == 0) {
                continue;
            }
            GLint loc = gl.GetUniformLocation(krgl.programs[size_t(i)].program, s.name);
            if (loc >= 0) {
                gl.Uniform1i(loc, s.unit);
            }
        }
    }
    krglUseProgram(0);
    return true;
}

void krglDeletePrograms()
{
    krglFlush();
    if (krgl.current_program != 0) {
        krgl.current_program = 0;
        gl.UseProgram(0);
    }
    for (krgl_program_slot &slot : krgl.programs) {
        if (slot.program) {
            if (slot.vertex_shader) {
                gl.DetachShader(slot.program, slot.vertex_shader);
            }
            if (slot.fragment_shader) {
                gl.DetachShader(slot.program, slot.fragment_shader);
            }
            gl.DeleteProgram(slot.program);
        }
        if (slot.vertex_shader) {
            gl.DeleteShader(slot.vertex_shader);
        }
        if (slot.fragment_shader) {
            gl.DeleteShader(slot.fragment_shader);
        }
        slot = krgl_program_slot{};
        slot.location.fill(-2);
    }
}
