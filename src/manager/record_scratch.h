// A block of port records reused from call to call: allocating and faulting in 190 KB on every
// address query costs far more than the query itself.
#pragma once

#include <linkset/port_info.h>

#include <atomic>
#include <cstddef>
#include <memory>

// Any thread may take the kept block; a thread that finds it taken gets a block of its own, and
// the first block handed back is kept for the next call. No lock is held at any time.
class RecordScratch {
public:
    explicit RecordScratch(std::size_t records) : m_records(records) {}
    ~RecordScratch() { delete[] m_kept.load(); }
    RecordScratch(const RecordScratch&) = delete;
    RecordScratch& operator=(const RecordScratch&) = delete;

    class Lease {
    public:
        Lease(RecordScratch& owner, PORT_INFO* block) : m_owner(owner), m_block(block) {}
        ~Lease() { m_owner.GiveBack(m_block); }
        Lease(const Lease&) = delete;
        Lease& operator=(const Lease&) = delete;
        PORT_INFO* get() const { return m_block; }

    private:
        RecordScratch& m_owner;
        PORT_INFO* m_block;
    };

    Lease Take() {
        PORT_INFO* block = m_kept.exchange(nullptr);
        return Lease(*this, block != nullptr ? block : new PORT_INFO[m_records]);
    }
    std::size_t records() const { return m_records; }

private:
    void GiveBack(PORT_INFO* block) {
        PORT_INFO* expected = nullptr;
        if (!m_kept.compare_exchange_strong(expected, block)) delete[] block;
    }

    const std::size_t m_records;
    std::atomic<PORT_INFO*> m_kept{nullptr};
};
