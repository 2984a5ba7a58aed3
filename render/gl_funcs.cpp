// The GL entry-point table. Everything is loaded by name through the platform
// layer, so the same code runs on desktop GL (core or compatibility) and on
// OpenGL ES, whose library may not export the old 1.1 functions directly.
#include "platform/platform.h"
#include "render/render_local.h"

gl_functions gl;

bool gl_load_functions(void *(*lookup)(const char *name))
{
    gl_functions loaded;
    bool ok = true;
#define KRGL_LOAD(type, name)                                                                                     \
    loaded.name = reinterpret_cast<type>(lookup("gl" #name));                                                     \
    if (!loaded.name) {                                                                                           \
        velk_log("Can't find OpenGL function gl%s\n", #name);                                                     \
        ok = false;                                                                                               \
    }
    KRGL_FUNCTIONS(KRGL_LOAD)
#undef KRGL_LOAD
#define KRGL_LOAD_OPTIONAL(type, name) loaded.name = reinterpret_cast<type>(lookup("gl" #name));
    KRGL_OPTIONAL_FUNCTIONS(KRGL_LOAD_OPTIONAL)
#undef KRGL_LOAD_OPTIONAL
    gl = loaded;
    return ok;
}
