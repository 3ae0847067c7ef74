#pragma once
// What a device operation returns: success, or the text that says why not.
// The caller shows that text (status bar, message box, standard error, the
// journal); nobody reads it back from where it was shown.
#include <string>
#include <utility>

namespace kestrel {

struct [[nodiscard]] OpResult {
    bool ok = true;
    std::string failure;  // empty on success

    static OpResult Success() { return {}; }
    static OpResult Failure(std::string text) { return {false, std::move(text)}; }
    explicit operator bool() const { return ok; }
};

}  // namespace kestrel
