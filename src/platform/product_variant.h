#pragma once
#include <string>

namespace kestrel {

// Fixed when an executable is built: each main passes its own constant.
enum class ProductVariant { Raid, Hybrid };

inline constexpr const char* kVersionText = "V0.23.6";

// "RAID GUI V0.23.6" or "HyBrid GUI V0.23.6": window caption, application
// title and the first words of the start-up log line.
std::string BaseTitleFor(ProductVariant variant);

}  // namespace kestrel
