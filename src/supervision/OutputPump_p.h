#pragma once

#include <QtGlobal>

#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include <sys/mman.h>

namespace Wardlamp::Detail {

// Fixed-size blocks of memory that the output thread reads child output into.
// A block goes back to the pool when the last batch holding lines in it is
// dropped (on either thread), and is handed out again with its pages still
// mapped: a steady stream of output costs no page faults. Spare blocks are
// unmapped by trim(). Thread-safe.
class OutputChunks : public std::enable_shared_from_this<OutputChunks> {
public:
    // One huge page where the kernel offers them (one fault instead of 512):
    // chunkBytes for reads and copies, then slackBytes that are only ever read
    // (the classifier's look-ahead). Spare blocks stay resident: reusing them
    // costs no faults.
    static constexpr qsizetype mapBytes = 2 * 1024 * 1024;
    static constexpr qsizetype slackBytes = 4096;
    static constexpr qsizetype chunkBytes = mapBytes - slackBytes;

    static constexpr std::size_t unlimited = ~std::size_t(0);

    // `maxBlocks` caps the blocks mapped at once, in use or spare: past it
    // get() finds no memory, as when mmap() fails.
    explicit OutputChunks(std::size_t maxBlocks = unlimited)
        : m_maxBlocks(maxBlocks)
    {
    }
    ~OutputChunks()
    {
        for (char* block : m_spare)
            ::munmap(block, std::size_t(mapBytes));
    }
    OutputChunks(const OutputChunks&) = delete;
    OutputChunks& operator=(const OutputChunks&) = delete;

    // A block of chunkBytes (+ slackBytes readable past it), or null when no
    // memory could be mapped. A new `huge` block is asked to be one huge page
    // (for bulk output; a quiet stream would make 2 MiB resident for a few lines).
    std::shared_ptr<char> get(bool huge)
    {
        char* block = nullptr;
        {
            std::lock_guard lock(m_mutex);
            if (!m_spare.empty()) {
                block = m_spare.back();
                m_spare.pop_back();
            } else if (m_mapped >= m_maxBlocks) {
                return {};
            } else {
                ++m_mapped; // counted before mapping, so the cap holds against other threads
            }
        }
        if (!block && !(block = map(huge))) {
            std::lock_guard lock(m_mutex);
            --m_mapped;
            return {};
        }
        return std::shared_ptr<char>(block, [pool = shared_from_this()](char* returned) { pool->put(returned); });
    }

    // Unmaps all spare blocks but `keep`.
    void trim(std::size_t keep)
    {
        std::vector<char*> dropped;
        {
            std::lock_guard lock(m_mutex);
            while (m_spare.size() > keep) {
                dropped.push_back(m_spare.back());
                m_spare.pop_back();
            }
        }
        for (char* block : dropped)
            unmap(block);
    }

    std::size_t spareCount()
    {
        std::lock_guard lock(m_mutex);
        return m_spare.size();
    }

private:
    // Blocks in flight under bulk output: the one being read into, the queue
    // (woken at a megabyte) and the batch in the main thread's hands. More
    // spare ones than that are unmapped at once.
    static constexpr std::size_t maxSpare = 4;

    void put(char* block)
    {
        {
            std::lock_guard lock(m_mutex);
            if (m_spare.size() < maxSpare) {
                m_spare.push_back(block);
                return;
            }
        }
        unmap(block);
    }

    void unmap(char* block)
    {
        ::munmap(block, std::size_t(mapBytes));
        std::lock_guard lock(m_mutex);
        --m_mapped;
    }

    // A block aligned to its size, so that it can be one huge page.
    static char* map(bool huge)
    {
        const auto size = std::size_t(mapBytes);
        void* mapped = ::mmap(nullptr, 2 * size, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS, -1, 0);
        if (mapped == MAP_FAILED)
            return nullptr;
        const auto start = reinterpret_cast<std::uintptr_t>(mapped);
        const std::uintptr_t aligned = (start + size - 1) & ~std::uintptr_t(size - 1);
        if (aligned > start)
            ::munmap(mapped, aligned - start);
        if (const std::size_t tail = start + 2 * size - (aligned + size))
            ::munmap(reinterpret_cast<void*>(aligned + size), tail);
        auto* block = reinterpret_cast<char*>(aligned);
        // Said either way: where huge pages are the system's default, an aligned
        // block would be one even for a quiet stream. A refusal keeps the default.
        ::madvise(block, size, huge ? MADV_HUGEPAGE : MADV_NOHUGEPAGE);
        return block;
    }

    const std::size_t m_maxBlocks;
    std::mutex m_mutex;
    std::vector<char*> m_spare;
    std::size_t m_mapped = 0; // blocks mapped now, in use or spare
};

} // namespace Wardlamp::Detail
