// When a pass of the maintenance cycle is due.
//
// The tick count that decides it is the process's own, as hosts of one manager have always seen
// it: a second manager continues the first one's count. Managers that live at the same time
// share it, and when they tick in step its remainders can keep falling to the same one, leaving
// another without passes indefinitely. So while more than one manager lives, a manager that has
// gone a whole period of its own ticks without its pass takes it anyway. A manager alone never
// gets that far before the remainder comes round, so it keeps the exact rhythm of the count.
#pragma once

#include <cstdint>

class PassSchedule {
public:
    explicit PassSchedule(int32_t period) : m_period(period) {}

    // Called on every tick of the manager, with the process's count after this tick.
    bool Due(int32_t tick, bool otherManagersLive) {
        ++m_ticksWithout;
        if (tick % m_period != 1 && !(otherManagersLive && m_ticksWithout >= m_period)) return false;
        m_ticksWithout = 0;
        return true;
    }
    // The pass ran on this tick for a reason of its own.
    void Ran() { m_ticksWithout = 0; }

private:
    const int32_t m_period;
    int32_t m_ticksWithout = 0;
};
