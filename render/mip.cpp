// Mip chains and the two texture size reductions: the detail level set by
// the user, and the automatic one that drops levels carrying no more detail
// than the next smaller level rebuilt by bilinear upsampling.
#include "render/render_local.h"

#include <algorithm>
#include <cmath>
#include <cstring>

namespace {

int half(int v) { return v > 1 ? v / 2 : 1; }

size_t level_bytes(int w, int h, int comp) { return size_t(w) * size_t(h) * size_t(comp); }

// The next level of `src` (w x h) into `dst` (half size).
void reduce_level(const uint8_t *src, int w, int h, int comp, uint8_t *dst, bool max_alpha)
{
    int w2 = half(w), h2 = half(h);
    for (int y = 0; y < h2; y++) {
        for (int x = 0; x < w2; x++) {
            int xs[2] = {std::min(2 * x, w - 1), std::min(2 * x + 1, w - 1)};
            int ys[2] = {std::min(2 * y, h - 1), std::min(2 * y + 1, h - 1)};
            int nx = w > 1 ? 2 : 1, ny = h > 1 ? 2 : 1;
            const uint8_t *t[4];
            int n = 0;
            for (int j = 0; j < ny; j++) {
                for (int i = 0; i < nx; i++) {
                    t[n++] = src + (size_t(ys[j]) * size_t(w) + size_t(xs[i])) * size_t(comp);
                }
            }
            uint8_t *d = dst + (size_t(y) * size_t(w2) + size_t(x)) * size_t(comp);
            if (comp != 4) {
                for (int ch = 0; ch < comp; ch++) {
                    int s = 0;
                    for (int k = 0; k < n; k++) {
                        s += t[k][ch];
                    }
                    d[ch] = uint8_t(s / n);
                }
                continue;
            }
            int asum = 0, amax = 0;
            bool opaque = true;
            for (int k = 0; k < n; k++) {
                asum += t[k][3];
                amax = std::max(amax, int(t[k][3]));
                opaque = opaque && t[k][3] == 255;
            }
            d[3] = uint8_t(max_alpha ? amax : asum / n);
            for (int ch = 0; ch < 3; ch++) {
                int s = 0, ws = 0;
                for (int k = 0; k < n; k++) {
                    s += t[k][ch];
                    ws += t[k][ch] * t[k][3];
                }
                d[ch] = uint8_t(asum == 0 || opaque ? s / n : ws / asum);
            }
        }
    }
}

// Copies a w x h block at (x, y) of an image `stride` texels wide.
void copy_block(const uint8_t *src, int stride, int x, int y, int w, int h, int comp, uint8_t *dst)
{
    for (int r = 0; r < h; r++) {
        std::memcpy(dst + size_t(r) * size_t(w) * size_t(comp),
                    src + ((size_t(y) + size_t(r)) * size_t(stride) + size_t(x)) * size_t(comp),
                    size_t(w) * size_t(comp));
    }
}

// "[mip_custom]": every level is drawn by hand inside the image: level 0 in
// the top two thirds, the others left to right in the strip below.
void build_custom_chain(kr_image *img, const char *label, bool max_alpha)
{
    int W = img->width, H = img->height, comp = img->components;
    if ((2 * H) % 3 != 0) {
        console_line("Warning: Invalid height for custom MIP map in '%.950s'", label);
    }
    int h0 = std::max(1, H * 2 / 3);
    int levels = mip_level_count(W, h0);
    std::vector<uint8_t> out(mip_chain_bytes(W, h0, comp, levels));
    copy_block(img->pixels.data(), W, 0, 0, W, h0, comp, out.data());
    size_t offset = level_bytes(W, h0, comp);
    int w = W, h = h0, x = 0, prev_w = 0;
    for (int level = 1; level < levels; level++) {
        int nw = half(w), nh = half(h);
        x += prev_w;
        int y = h0;
        uint8_t *dst = out.data() + offset;
        if (x + nw <= W && y + nh <= H) {
            copy_block(img->pixels.data(), W, x, y, nw, nh, comp, dst);
        } else {
            // The level is not in the image: make it from the one above.
            reduce_level(dst - level_bytes(w, h, comp), w, h, comp, dst, max_alpha);
        }
        offset += level_bytes(nw, nh, comp);
        prev_w = nw;
        w = nw;
        h = nh;
    }
    img->pixels = std::move(out);
    img->height = h0;
    img->levels = levels;
}

// Whether bilinear upsampling of `small` rebuilds every channel of `big`
// within 4.
bool upsamples_within(const uint8_t *big, int w, int h, const uint8_t *small, int w2, int h2, int comp)
{
    for (int y = 0; y < h; y++) {
        float fy = h2 == h ? float(y) : (float(y) + 0.5f) * float(h2) / float(h) - 0.5f;
        fy = std::clamp(fy, 0.0f, float(h2 - 1));
        int y0 = int(fy), y1 = std::min(y0 + 1, h2 - 1);
        float ty = fy - float(y0);
        for (int x = 0; x < w; x++) {
            float fx = w2 == w ? float(x) : (float(x) + 0.5f) * float(w2) / float(w) - 0.5f;
            fx = std::clamp(fx, 0.0f, float(w2 - 1));
            int x0 = int(fx), x1 = std::min(x0 + 1, w2 - 1);
            float tx = fx - float(x0);
            const uint8_t *a = small + (size_t(y0) * size_t(w2) + size_t(x0)) * size_t(comp);
            const uint8_t *b = small + (size_t(y0) * size_t(w2) + size_t(x1)) * size_t(comp);
            const uint8_t *c = small + (size_t(y1) * size_t(w2) + size_t(x0)) * size_t(comp);
            const uint8_t *d = small + (size_t(y1) * size_t(w2) + size_t(x1)) * size_t(comp);
            const uint8_t *o = big + (size_t(y) * size_t(w) + size_t(x)) * size_t(comp);
            for (int ch = 0; ch < comp; ch++) {
                float top = float(a[ch]) + (float(b[ch]) - float(a[ch])) * tx;
                float bottom = float(c[ch]) + (float(d[ch]) - float(c[ch])) * tx;
                float v = top + (bottom - top) * ty;
                if (std::fabs(v - float(o[ch])) > 4.0f) {
                    return false;
                }
            }
        }
    }
    return true;
}

} // namespace

int mip_level_count(int width, int height)
{
    int n = 1;
    while (width > 1 || height > 1) {
        width = half(width);
        height = half(height);
        n++;
    }
    return n;
}

size_t mip_chain_bytes(int width, int height, int components, int levels)
{
    size_t total = 0;
    for (int i = 0; i < levels; i++) {
        total += level_bytes(width, height, components);
        width = half(width);
        height = half(height);
    }
    return total;
}

void build_mip_chain(kr_image *img, const char *label)
{
    bool max_alpha = img->info.find("[mip_max_alpha]") != std::string::npos;
    if (img->info.find("[mip_custom]") != std::string::npos) {
        build_custom_chain(img, label, max_alpha);
        return;
    }
    int w = img->width, h = img->height, comp = img->components;
    int levels = mip_level_count(w, h);
    img->pixels.resize(mip_chain_bytes(w, h, comp, levels));
    size_t offset = 0;
    for (int level = 1; level < levels; level++) {
        size_t next = offset + level_bytes(w, h, comp);
        reduce_level(img->pixels.data() + offset, w, h, comp, img->pixels.data() + next, max_alpha);
        offset = next;
        w = half(w);
        h = half(h);
    }
    img->levels = levels;
}

bool image_resample_pow2(kr_image *img, const char *label)
{
    int w = img->width, h = img->height, comp = img->components;
    int nw = 1, nh = 1;
    while (nw * 2 <= w) {
        nw *= 2;
    }
    while (nh * 2 <= h) {
        nh *= 2;
    }
    if (nw == w && nh == h) {
        return false;
    }
    std::vector<uint8_t> out(level_bytes(nw, nh, comp));
    for (int y = 0; y < nh; y++) {
        int sy = int(int64_t(y) * h / nh);
        for (int x = 0; x < nw; x++) {
            int sx = int(int64_t(x) * w / nw);
            std::memcpy(&out[(size_t(y) * size_t(nw) + size_t(x)) * size_t(comp)],
                        &img->pixels[(size_t(sy) * size_t(w) + size_t(sx)) * size_t(comp)], size_t(comp));
        }
    }
    img->pixels = std::move(out);
    img->width = nw;
    img->height = nh;
    img->levels = 1;
    std::string info = img->info;
    // A hand-made chain cannot survive resampling.
    for (size_t p; (p = img->info.find("[mip_custom]")) != std::string::npos;) {
        img->info.erase(p, 12);
    }
    build_mip_chain(img, label);
    img->info = info;
    return true;
}

void image_drop_levels(kr_image *img, int count)
{
    count = std::min(count, img->levels - 1);
    if (count <= 0) {
        return;
    }
    size_t offset = mip_chain_bytes(img->width, img->height, img->components, count);
    img->pixels.erase(img->pixels.begin(), img->pixels.begin() + std::ptrdiff_t(offset));
    for (int i = 0; i < count; i++) {
        img->width = half(img->width);
        img->height = half(img->height);
    }
    img->levels -= count;
}

int detail_levels_to_drop(int width, int height, int reduction_level)
{
    if (reduction_level <= 0 || width <= 128 || height <= 128) {
        return 0;
    }
    int drop = 1;
    width = half(width);
    height = half(height);
    while (drop < reduction_level && width >= 258 && height >= 258) {
        drop++;
        width = half(width);
        height = half(height);
    }
    return drop;
}

int automatic_levels_to_drop(const kr_image &img)
{
    int w = img.width, h = img.height, comp = img.components;
    if (w <= 16 && h <= 16) {
        return 0;
    }
    int drop = 0;
    size_t offset = 0;
    for (int level = 0; level + 1 < img.levels; level++) {
        size_t next = offset + level_bytes(w, h, comp);
        int w2 = half(w), h2 = half(h);
        if (!upsamples_within(img.pixels.data() + offset, w, h, img.pixels.data() + next, w2, h2, comp)) {
            break;
        }
        drop++;
        if (w <= 33 && h <= 33) {
            break;
        }
        offset = next;
        w = w2;
        h = h2;
    }
    return drop;
}
