#pragma once

#include <cstdint>
#include <span>

// Whether the colour tables of the ICC profile `bytes` stay within what building one conversion
// may cost: the pipeline elements, grid points, table values and sampled curve points summed over
// the profile, and the work of carrying one colour through each table. The profile is measured
// from its bytes the way Little CMS would read them, before anything is built, so that a profile
// whose small tables are named again and again cannot make a build take minutes or gigabytes.
bool profileWorkWithinBounds(std::span<const std::uint8_t> bytes);
