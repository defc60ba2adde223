#pragma once
// The rule tables put a slot in the state a completion or a shown line
// arrives in; only tests reach a slot's fields this way.

#include "download/scheduler.h"

namespace download {

struct SchedulerAccess {
    static Slot& slot(Scheduler& s, int n) { return s.slotAt(n); }
};

} // namespace download
