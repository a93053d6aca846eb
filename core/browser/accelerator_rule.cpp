#include "core/browser/accelerator_rule.h"

namespace core {

bool IsBlockedAccelerator(const AcceleratorKeys& keys)
{
    if (!keys.keyDown) return false;
    if (keys.f5) return true;
    return keys.ctrl && (keys.o || keys.p || keys.n);
}

}  // namespace core
