// Choosing a full-screen mode from the display's mode list.
#include "platform/platform.h"

velk_display_mode velk_choose_mode(std::span<const velk_display_mode> modes, int width, int height)
{
    if (modes.empty())
        return velk_display_mode{640, 480, 32};
    if (width <= 0 && height <= 0)
        return modes[0];
    const velk_display_mode *best = nullptr;
    for (const velk_display_mode &m : modes) {
        if (m.width < width || m.height < height)
            continue;
        if (!best || m.width + m.height < best->width + best->height)
            best = &m;
    }
    return best ? *best : modes[0];
}
