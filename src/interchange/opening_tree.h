// A bounded tree of the openings that games read one after another share, for work that
// each game would otherwise do again on the same first moves. A node stands for a line from
// the standard start and carries what the work made of its last step (a move, or the text
// of one); a node's children are found by their step. A node is made the second time its
// step is taken from its parent, while the tree has room, so that the tree fills with the
// lines that recur rather than with the first games' own.
#pragma once

#include <cstdint>
#include <vector>

namespace vez {

template <class Value>
class OpeningTree {
public:
    static constexpr std::uint32_t kRoot = 0;
    static constexpr std::uint32_t kNone = ~std::uint32_t(0);

    // Room for nodes below the root (a power of two at most 2^28).
    explicit OpeningTree(std::uint32_t nodes) : m_capacity(nodes), m_slots(std::size_t(nodes) * 8)
    {
        m_values.reserve(nodes + 1);
        m_values.emplace_back(); // the root's, never read
    }

    // The child of node by step; kNone when there is none (node may be kNone).
    std::uint32_t child(std::uint32_t node, std::uint64_t step) const
    {
        if (node == kNone)
            return kNone;
        const Slot* s = find(node, step);
        return s != nullptr ? s->child : kNone;
    }

    const Value& value(std::uint32_t node) const { return m_values[node]; }

    // The step was taken from node (which has no child by it) and made value: returns the
    // child made now, or kNone.
    std::uint32_t taken(std::uint32_t node, std::uint64_t step, const Value& value)
    {
        if (node == kNone)
            return kNone;
        Slot* s = find(node, step);
        if (s == nullptr) {
            // The first time: remembered while the table has room.
            if (m_used < m_slots.size() / 2) {
                Slot& free = m_slots[freeSlot(node, step)];
                free = {step, node, kNone};
                ++m_used;
            }
            return kNone;
        }
        if (s->child != kNone || m_values.size() > m_capacity)
            return kNone;
        s->child = std::uint32_t(m_values.size());
        m_values.push_back(value);
        return s->child;
    }

private:
    struct Slot {
        std::uint64_t step = 0;
        std::uint32_t parent = kNone; // kNone: a free slot
        std::uint32_t child = kNone;  // kNone: taken once
    };

    std::size_t home(std::uint32_t node, std::uint64_t step) const
    {
        std::uint64_t h = (step ^ (std::uint64_t(node) << 32 | node)) * 0x9E3779B97F4A7C15ull;
        h ^= h >> 29;
        return std::size_t(h) & (m_slots.size() - 1);
    }
    const Slot* find(std::uint32_t node, std::uint64_t step) const
    {
        for (std::size_t i = home(node, step);; i = (i + 1) & (m_slots.size() - 1)) {
            const Slot& s = m_slots[i];
            if (s.parent == kNone)
                return nullptr;
            if (s.parent == node && s.step == step)
                return &s;
        }
    }
    Slot* find(std::uint32_t node, std::uint64_t step)
    {
        return const_cast<Slot*>(static_cast<const OpeningTree*>(this)->find(node, step));
    }
    std::size_t freeSlot(std::uint32_t node, std::uint64_t step) const
    {
        std::size_t i = home(node, step);
        while (m_slots[i].parent != kNone)
            i = (i + 1) & (m_slots.size() - 1);
        return i;
    }

    std::uint32_t m_capacity;
    std::vector<Slot> m_slots;
    std::size_t m_used = 0;
    std::vector<Value> m_values; // by node
};

} // namespace vez
