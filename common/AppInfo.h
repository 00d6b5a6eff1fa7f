#pragma once

namespace qv {

// The caption of every box that has no title of its own.
inline constexpr const char kApplicationTitle[] = "Quorvane Modular Stair Installer";

}  // namespace qv
