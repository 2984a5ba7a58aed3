// The krgl layer against a recording stand-in for GL: the queue, the matrix
// stacks, immediate-mode conversion and batch cutting, without a context.
#include "render/render_local.h"
#include "render/tests/test_util.h"

#include <algorithm>
#include <array>
#include <map>
#include <tuple>

namespace {

template <typename F> struct stub;
template <typename R, typename... A> struct stub<R (*)(A...)> {
    static R call(A...) { return R(); }
};

struct draw_record {
    GLenum mode;
    std::vector<int> ids;  // vertex ids (x positions) in drawing order
    mat4 modelview;
};

struct fake_gl {
    std::vector<float> vertices;
    std::vector<uint16_t> indices;
    std::vector<draw_record> draws;
    std::map<GLint, mat4> uniforms;
    int uploads = 0;
};
fake_gl fake;

int vertex_id(int i) { return int(fake.vertices[size_t(i) * KRGL_VERTEX_FLOATS]); }

mat4 uniform(GLint loc)
{
    auto it = fake.uniforms.find(loc);
    return it == fake.uniforms.end() ? mat4{} : it->second;
}

void install_fake()
{
#define KRGL_STUB(type, name) gl.name = stub<type>::call;
    KRGL_FUNCTIONS(KRGL_STUB)
    KRGL_OPTIONAL_FUNCTIONS(KRGL_STUB)
#undef KRGL_STUB
    gl.BufferSubData = [](GLenum target, GLintptr, GLsizeiptr size, const void *data) {
        if (target == GL_ARRAY_BUFFER) {
            fake.vertices.assign(static_cast<const float *>(data),
                                 static_cast<const float *>(data) + size_t(size) / sizeof(float));
            fake.uploads++;
        } else {
            fake.indices.assign(static_cast<const uint16_t *>(data),
                                static_cast<const uint16_t *>(data) + size_t(size) / 2);
        }
    };
    gl.DrawArrays = [](GLenum mode, GLint first, GLsizei count) {
        draw_record d{mode, {}, uniform(1)};
        for (int i = first; i < first + count; i++) {
            d.ids.push_back(vertex_id(i));
        }
        fake.draws.push_back(d);
    };
    gl.DrawRangeElements = [](GLenum mode, GLuint, GLuint, GLsizei count, GLenum, const void *offset) {
        draw_record d{mode, {}, uniform(1)};
        size_t first = reinterpret_cast<size_t>(offset) / 2;
        for (size_t i = first; i < first + size_t(count); i++) {
            d.ids.push_back(vertex_id(fake.indices[i]));
        }
        fake.draws.push_back(d);
    };
    gl.GetUniformLocation = [](GLuint, const GLchar *name) -> GLint {
        return std::string(name) == "u_modelview" ? 1 : std::string(name) == "u_projection" ? 2 : -1;
    };
    gl.UniformMatrix4fv = [](GLint loc, GLsizei, GLboolean, const GLfloat *m) {
        mat4 v;
        std::copy(m, m + 16, v.begin());
        fake.uniforms[loc] = v;
    };
}

class Krgl : public ::testing::Test {
protected:
    void SetUp() override
    {
        install_fake();
        fake = fake_gl{};
        krgl_reset_state();
        krgl.ready = true;
        krgl.buffers_made = false;
        krgl_make_buffers();
        krgl.programs[1].program = 11;
        krgl.current_program = 0;
        krglUseProgram(1);
    }
    void TearDown() override
    {
        krgl.current_program = 0;
        krgl.ready = false;
    }
};

using triangle = std::array<int, 3>;

// A triangle with its winding kept, rotated to start at its smallest id.
triangle canonical(int a, int b, int c)
{
    triangle t{a, b, c};
    std::rotate(t.begin(), std::min_element(t.begin(), t.end()), t.end());
    return t;
}

// The triangles GL draws for the recorded draws; degenerate ones drop out.
std::vector<triangle> drawn_triangles()
{
    std::vector<triangle> out;
    auto add = [&](int a, int b, int c) {
        if (a != b && b != c && a != c) {
            out.push_back(canonical(a, b, c));
        }
    };
    for (const draw_record &d : fake.draws) {
        const std::vector<int> &v = d.ids;
        size_t n = v.size();
        if (d.mode == GL_TRIANGLES) {
            for (size_t i = 0; i + 2 < n; i += 3) {
                add(v[i], v[i + 1], v[i + 2]);
            }
        } else if (d.mode == GL_TRIANGLE_STRIP) {
            for (size_t k = 0; k + 2 < n; k++) {
                if (k % 2 == 0) {
                    add(v[k], v[k + 1], v[k + 2]);
                } else {
                    add(v[k + 1], v[k], v[k + 2]);
                }
            }
        } else if (d.mode == GL_TRIANGLE_FAN) {
            for (size_t k = 1; k + 1 < n; k++) {
                add(v[0], v[k], v[k + 1]);
            }
        }
    }
    std::sort(out.begin(), out.end());
    return out;
}

std::vector<triangle> sorted(std::vector<triangle> t)
{
    std::sort(t.begin(), t.end());
    return t;
}

void emit(GLenum mode, int first_id, int count)
{
    krglBegin(mode);
    for (int i = 0; i < count; i++) {
        krglVertex(float(first_id + i), 0);
    }
    krglEnd();
}

TEST_F(Krgl, PushOverflowAndPopUnderflowLeaveTheStack)
{
    for (int i = 0; i < 31; i++) {
        krglPushMatrix();
    }
    krglTranslate(1, 2, 3);
    krglFlush();
    EXPECT_EQ(krgl_depth(0), 31);
    mat4 top = krgl_top(0);
    krglPushMatrix();
    krglFlush();
    EXPECT_EQ(krgl_depth(0), 31);
    EXPECT_EQ(krgl_top(0), top);
    for (int i = 0; i < 33; i++) {
        krglPopMatrix();
    }
    krglFlush();
    EXPECT_EQ(krgl_depth(0), 0);
    EXPECT_EQ(krgl_top(0)[12], 0.0f);
}

TEST_F(Krgl, MatrixModesAndTextureUnits)
{
    krglActiveTexture(GL_TEXTURE0 + 3);
    krglMatrixMode(KRGL_TEXTURE);
    krglScale(2, 2, 2);
    krglActiveTexture(GL_TEXTURE0 + 8);  // out of range: unit 3 stays
    krglLoadIdentity();
    krglActiveTexture(GL_TEXTURE0 + 5);  // the texture mode follows the unit
    krglTranslate(4, 0, 0);
    krglMatrixMode(KRGL_PROJECTION);
    krglOrtho(0, 2, 0, 2, -1, 1);
    krglFlush();
    EXPECT_EQ(krgl.active_unit, 5);
    EXPECT_EQ(krgl_top(2 + 3)[0], 1.0f);
    EXPECT_EQ(krgl_top(2 + 5)[12], 4.0f);
    EXPECT_FLOAT_EQ(krgl_top(1)[0], 1.0f);
    EXPECT_FLOAT_EQ(krgl_top(1)[12], -1.0f);
}

TEST_F(Krgl, RotateAndFrustumFollowGl)
{
    krglRotate(90, 0, 0, 2);  // axis is normalised
    krglFlush();
    const mat4 &r = krgl_top(0);
    EXPECT_NEAR(r[0], 0, 1e-6);
    EXPECT_NEAR(r[1], 1, 1e-6);  // x maps to y
    EXPECT_NEAR(r[4], -1, 1e-6);
    krglLoadIdentity();
    krglFrustum(-1, 1, -1, 1, 1, 3);
    krglFlush();
    EXPECT_FLOAT_EQ(krgl_top(0)[10], -2.0f);
    EXPECT_FLOAT_EQ(krgl_top(0)[11], -1.0f);
    EXPECT_FLOAT_EQ(krgl_top(0)[14], -3.0f);
}

TEST_F(Krgl, QuadsPolygonsAndStripsBecomeTriangles)
{
    emit(KRGL_QUADS, 0, 6);  // the two extra vertices draw nothing
    emit(KRGL_POLYGON, 100, 2);
    emit(KRGL_POLYGON, 200, 5);
    emit(KRGL_QUAD_STRIP, 300, 6);
    krglFlush();
    std::vector<triangle> want = {
        canonical(0, 1, 3),     canonical(3, 1, 2),     canonical(200, 201, 202), canonical(200, 202, 203),
        canonical(200, 203, 204), canonical(300, 301, 302), canonical(301, 303, 302), canonical(302, 303, 304),
        canonical(303, 305, 304),
    };
    EXPECT_EQ(drawn_triangles(), sorted(want));
    EXPECT_EQ(fake.uploads, 1);  // one upload for the whole flush
}

// Triangle strips, fans, quads and triangles of more than 8192 vertices are
// cut at the batch boundary with no triangle lost or added, also when the
// primitive does not start at the beginning of the batch.
TEST_F(Krgl, LongPrimitivesCrossTheBatchBoundaryWhole)
{
    const struct {
        GLenum mode;
        int lead;  // vertices of an earlier primitive in the same batch
        int count;
    } cases[] = {
        {GL_TRIANGLE_STRIP, 0, 10000}, {GL_TRIANGLE_STRIP, 1, 10000}, {GL_TRIANGLE_STRIP, 3, 20001},
        {GL_TRIANGLE_FAN, 5, 9000},    {KRGL_POLYGON, 0, 8500},       {GL_TRIANGLES, 1, 9000},
        {KRGL_QUADS, 1, 9000},         {KRGL_QUAD_STRIP, 1, 9000},    {KRGL_QUAD_STRIP, 2, 9000},
    };
    for (const auto &c : cases) {
        SetUp();
        if (c.lead > 0) {
            emit(GL_POINTS, 1000000, c.lead);
        }
        emit(c.mode, 0, c.count);
        krglFlush();
        std::vector<triangle> want;
        int n = c.count;
        for (int k = 0; k + 2 < n; k++) {
            switch (c.mode) {
            case GL_TRIANGLE_STRIP:
                want.push_back(k % 2 == 0 ? canonical(k, k + 1, k + 2) : canonical(k + 1, k, k + 2));
                break;
            case GL_TRIANGLE_FAN:
            case KRGL_POLYGON:
                want.push_back(canonical(0, k + 1, k + 2));
                break;
            case KRGL_QUAD_STRIP:
                if (k + 2 < (n & ~1)) {
                    want.push_back(k % 2 == 0 ? canonical(k, k + 1, k + 2) : canonical(k, k + 2, k + 1));
                }
                break;
            default:
                break;
            }
        }
        if (c.mode == GL_TRIANGLES) {
            for (int k = 0; k + 2 < n; k += 3) {
                want.push_back(canonical(k, k + 1, k + 2));
            }
        } else if (c.mode == KRGL_QUADS) {
            for (int k = 0; k + 3 < n; k += 4) {
                want.push_back(canonical(k, k + 1, k + 3));
                want.push_back(canonical(k + 3, k + 1, k + 2));
            }
        }
        EXPECT_EQ(drawn_triangles(), sorted(want)) << "mode " << c.mode << " lead " << c.lead;
    }
}

TEST_F(Krgl, LineLoopSplitAcrossBatchesStaysClosed)
{
    emit(GL_LINE_LOOP, 0, 9000);
    krglFlush();
    std::vector<std::pair<int, int>> segments;
    for (const draw_record &d : fake.draws) {
        ASSERT_EQ(d.mode, GLenum(GL_LINE_STRIP));
        for (size_t i = 0; i + 1 < d.ids.size(); i++) {
            segments.emplace_back(d.ids[i], d.ids[i + 1]);
        }
    }
    ASSERT_EQ(segments.size(), 9000u);
    for (int i = 0; i < 9000; i++) {
        EXPECT_EQ(segments[size_t(i)], std::make_pair(i, (i + 1) % 9000));
    }
}

TEST_F(Krgl, EachPrimitiveDrawsWithTheMatricesAtItsEnd)
{
    krglTranslate(1, 0, 0);
    emit(GL_TRIANGLES, 0, 3);
    krglTranslate(1, 0, 0);
    emit(GL_TRIANGLES, 3, 3);
    krglPushMatrix();
    krglTranslate(5, 0, 0);
    emit(GL_TRIANGLES, 6, 3);
    krglPopMatrix();
    emit(GL_TRIANGLES, 9, 3);
    EXPECT_TRUE(fake.draws.empty());  // nothing reaches GL before the flush
    krglFlush();
    ASSERT_EQ(fake.draws.size(), 4u);
    EXPECT_EQ(fake.draws[0].modelview[12], 1.0f);
    EXPECT_EQ(fake.draws[1].modelview[12], 2.0f);
    EXPECT_EQ(fake.draws[2].modelview[12], 7.0f);
    EXPECT_EQ(fake.draws[3].modelview[12], 2.0f);
}

TEST_F(Krgl, DirectCallsFlushTheQueueFirst)
{
    emit(GL_TRIANGLES, 0, 3);
    krglClear(GL_COLOR_BUFFER_BIT);
    EXPECT_EQ(fake.draws.size(), 1u);
    // A full queue flushes by itself.
    for (size_t i = 0; i < KRGL_QUEUE_WORDS + 10; i++) {
        krglLoadIdentity();
    }
    EXPECT_LT(krgl.queue.size(), size_t(100));
}

TEST_F(Krgl, ProgramSwitchesCountAndMarkMatricesDirty)
{
    krgl.programs[2].program = 12;
    int before = krgl_stats().shader_changes.count;
    krglUseProgram(2);
    krglUseProgram(2);  // the same: ignored
    krglUseProgram(7);  // out of range: ignored
    EXPECT_EQ(krgl_stats().shader_changes.count, before + 1);
    EXPECT_EQ(krgl_current_program(), 2);
    EXPECT_EQ(krgl.dirty, (1u << KRGL_STACKS) - 1);
    krgl_stats_new_frame();
    EXPECT_EQ(krgl_stats().shader_changes.count, 0);
    EXPECT_EQ(krgl_stats().shader_changes.max, before + 1);
}

TEST_F(Krgl, FatalErrorsEndTheProgram)
{
    EXPECT_EXIT(
        {
            krgl.queue.push_back(99);
            krglFlush();
        },
        ::testing::ExitedWithCode(1), "Invalid GL command queued");
    EXPECT_EXIT(
        {
            krglUseProgram(0);
            emit(GL_TRIANGLES, 0, 3);
            krglFlush();
        },
        ::testing::ExitedWithCode(1), "Error: Fixed shader used");
}

TEST_F(Krgl, ContextFactsFromTheVersionString)
{
    static const char *version = nullptr;
    gl.GetString = [](GLenum name) -> const GLubyte * {
        return name == GL_VERSION ? reinterpret_cast<const GLubyte *>(version) : nullptr;
    };
    const struct {
        const char *version;
        int major, minor;
        bool es;
    } cases[] = {
        {"OpenGL ES 3.0 Mesa 22.3.6", 3, 0, true},
        {"4.6.0 NVIDIA 535.54", 4, 6, false},
        {"3.1 Mesa", 3, 1, false},
        {nullptr, 0, 0, false},
    };
    for (const auto &c : cases) {
        version = c.version;
        krgl_read_facts();
        const gl_facts &f = krgl_facts();
        EXPECT_EQ(f.major, c.major) << (c.version ? c.version : "none");
        EXPECT_EQ(f.minor, c.minor);
        EXPECT_EQ(f.es, c.es);
        EXPECT_EQ(f.vendor, "NULL");
        if (!c.version) {
            EXPECT_EQ(f.version, "NULL");
        }
    }
}

// A shader that fails to compile deletes every shader and program made so far.
TEST_F(Krgl, FailedProgramCreationDeletesEverything)
{
    static int shaders, programs, deleted_shaders, deleted_programs;
    shaders = programs = deleted_shaders = deleted_programs = 0;
    gl.CreateShader = [](GLenum) -> GLuint { return GLuint(++shaders); };
    gl.CreateProgram = []() -> GLuint { return GLuint(100 + ++programs); };
    gl.DeleteShader = [](GLuint) { deleted_shaders++; };
    gl.DeleteProgram = [](GLuint) { deleted_programs++; };
    // The sixth shader (the fragment shader of program 3) fails.
    gl.GetShaderiv = [](GLuint shader, GLenum name, GLint *v) { *v = name == GL_COMPILE_STATUS ? shader != 6 : 0; };
    gl.GetProgramiv = [](GLuint, GLenum name, GLint *v) { *v = name == GL_LINK_STATUS ? GL_TRUE : 0; };
    krgl.programs[1] = krgl_program_slot{};
    krgl.current_program = 0;
    EXPECT_FALSE(krglCreatePrograms());
    EXPECT_EQ(shaders, 6);
    EXPECT_EQ(deleted_shaders, 6);
    EXPECT_EQ(programs, 2);
    EXPECT_EQ(deleted_programs, 2);
    for (int i = 1; i <= 6; i++) {
        EXPECT_EQ(krgl_program_name(i), 0u);
    }
}

TEST(Shaders, DesktopSourcesStartWithVersion150)
{
    for (int i = 1; i <= 6; i++) {
        const shader_source &s = program_source(i);
        for (const char *src : {s.vertex, s.fragment}) {
            EXPECT_EQ(std::string(dialect_source(src, false)).rfind("#version 150\n", 0), 0u) << s.name;
            EXPECT_EQ(std::string(dialect_source(src, true)).rfind("#version 300 es\n//#version 150\n", 0), 0u);
        }
    }
    EXPECT_STREQ(program_source(5).name, "terrain");
}

} // namespace
