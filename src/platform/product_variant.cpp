#include "platform/product_variant.h"

namespace kestrel {

std::string BaseTitleFor(ProductVariant variant) {
    return std::string(variant == ProductVariant::Hybrid ? "HyBrid GUI " : "RAID GUI ") + kVersionText;
}

}  // namespace kestrel
