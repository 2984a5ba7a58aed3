// The watched setup values: forty bike setup values whose changes, applied
// to the bike during a ride, are announced every 5 s as "[SPAM] Setup
// change " with one letter per value that changed.

#include "core/core_local.h"
#include "sim/sim.h"

#include <array>
#include <cstring>

namespace {

struct watched_value {
    const char *label;  // the setup item's menu label
    char letter;
};

constexpr std::array<watched_value, SETUP_WATCH_COUNT> watched = {{
    {"Leveling", 'l'},
    {"Roll Damping", 'd'},
    {"Roll Limit Angle", 'a'},
    {"Roll Limit Factor", 'x'},
    {"Steering Damping", 'd'},
    {"Steering Strength", 's'},
    {"Max Steering Force", 'm'},
    {"Direct Steering", 'd'},
    {"Slow Damping Speed", 's'},
    {"Slow Damping Factor", 'x'},
    {"Landing Damping Ramp Up", 'r'},
    {"Landing Damping Falloff", 'l'},
    {"Landing Damping Factor", 'x'},
    {"Full Lock Speed", 'l'},
    {"Restricted Lock Speed", 's'},
    {"Restricted Lock Angle", 'a'},
    {"Auto Clutch RPMs", 'c'},
    {"Braking Torque (Front)", 'f'},
    {"Braking Torque (Rear)", 'r'},
    {"Max Dab Speed (MPH)", 'd'},
    {"Countershaft Sprocket", 'g'},
    {"Rear Sprocket", 'g'},
    {"Fork High Speed Compression Damping", 'C'},
    {"Fork Low Speed Compression Damping", 'c'},
    {"Fork High Speed Rebound Damping", 'R'},
    {"Fork Low Speed Rebound Damping", 'r'},
    {"Fork Spring Rate", 's'},
    {"Fork Preload", 'p'},
    {"Fork Oil Level", 'l'},
    {"Shock High Speed Compression Damping", 'C'},
    {"Shock Low Speed Compression Damping", 'c'},
    {"Shock High Speed Rebound Damping", 'R'},
    {"Shock Low Speed Rebound Damping", 'r'},
    {"Shock Spring Rate", 's'},
    {"Shock Preload", 'p'},
    {"Rider Vertical Spring", 'y'},
    {"Rider Forward Spring", 'z'},
    {"Rider Vertical Damping", 'Y'},
    {"Rider Forward Damping", 'Z'},
    {"Rider Mass Distribution", 'm'},
}};

struct watch_state {
    std::array<double, SETUP_WATCH_COUNT> snapshot{};
    std::array<bool, SETUP_WATCH_COUNT> changed{};
};
watch_state g_watch;

// The numeric setup item of a label; null when the setup has none.
const number_setting *watched_setting(size_t i) {
    static std::array<const number_setting *, SETUP_WATCH_COUNT> found{};
    static bool looked = false;
    if (!looked) {
        looked = true;
        for (SetupItem &item : setup_items())
            for (size_t k = 0; k < watched.size(); ++k)
                if (item.kind == setup_kind::numeric && item.number.label &&
                    std::strcmp(item.number.label, watched[k].label) == 0)
                    found[k] = &item.number;
    }
    return found[i];
}

double current_value(size_t i) {
    const number_setting *s = watched_setting(i);
    return s ? s->value : 0.0;
}

}  // namespace

void setup_watch_snapshot() {
    for (size_t i = 0; i < watched.size(); ++i) {
        g_watch.snapshot[i] = current_value(i);
        g_watch.changed[i] = false;
    }
}

void setup_watch_applied() {
    for (size_t i = 0; i < watched.size(); ++i)
        if (current_value(i) != g_watch.snapshot[i])
            g_watch.changed[i] = true;
}

bool setup_watch_report(std::string *line) {
    bool any = false;
    for (bool c : g_watch.changed)
        any = any || c;
    if (!any)
        return false;
    *line = "[SPAM] Setup change ";
    for (size_t i = 0; i < watched.size(); ++i)
        *line += g_watch.changed[i] ? watched[i].letter : '-';
    *line += '\n';
    setup_watch_snapshot();
    return true;
}
