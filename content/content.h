// content.h -- the generator of the game data that ships with the program:
// a fresh build rides without any download.
//
// Owns:      nothing at run time; kessrun_content writes files and exits.
// Depends:   the standard library; the images use the render PNG writer,
//            the shapes the bike geometry of sim/.
// Called by: content/main.cpp, run by the build into the build directory
//            (the game data directory of the built kessrun).
// Lifetime:  one run per build of the generator. Every function here is
//            deterministic (fixed seeds, no clock), so a rerun writes the
//            same bytes.
//
// One function per kind of content; each writes below out_dir and returns
// false (after a line on standard error) when a file cannot be written.
#pragma once

// The starter tracks: a flat practice field, an outdoor motocross track
// (with hay bales along a berm and a flag tower as statues) and a stadium
// supercross track, each a complete folder under out_dir/tracks/.
[[nodiscard]] bool generate_tracks(const char *out_dir);

// The collision shapes the bike models name: "generic_frame.shp",
// "generic_fork_upper.shp", "generic_fork_lower.shp", "generic_swingarm.shp",
// "front_wheel.shp", "rear_wheel.shp" and "generic_rider.shp", made from the
// shared bike geometry; and those of the track objects: "startgate.shp"
// (every starting-gate piece), "haybale.shp" and "flagtower.shp" (statues).
[[nodiscard]] bool generate_shapes(const char *out_dir);

// The images the drawing needs: "ground-hardpack.png", "ground-loam.png",
// "ground-sand.png", "ground-grass.png"; the sky box "sky_n.png", "sky_e.png",
// "sky_s.png", "sky_w.png", "sky_u.png" and its reflection map
// "sky_env.png"; the head-up images "tach.png", "shifter.png",
// "pitboard.png", "title.png". PNG through the render image writer.
[[nodiscard]] bool generate_images(const char *out_dir);
