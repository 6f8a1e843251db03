#pragma once

// Texts numbered 0, 1, 2... in the order they were first added, found by their
// bytes without building a string: the report looks up an address, a target and
// an agent on every line of logs of tens of millions of lines. Open addressing
// over a power-of-two table; the texts are kept in blocks that never move.

#include <cstdint>
#include <cstring>
#include <memory>
#include <string_view>
#include <vector>

inline std::uint64_t HashBytes(std::string_view text)
{
    const char* p = text.data();
    std::size_t n = text.size();
    std::uint64_t h = 0x9E3779B97F4A7C15ull ^ n;
    while (n >= 8) {
        std::uint64_t w;
        std::memcpy(&w, p, 8);
        h = (h ^ w) * 0xBF58476D1CE4E5B9ull;
        h ^= h >> 31;
        p += 8;
        n -= 8;
    }
    std::uint64_t w = 0;
    if (n > 0)
        std::memcpy(&w, p, n);
    h = (h ^ w) * 0x94D049BB133111EBull;
    h ^= h >> 29;
    h *= 0xBF58476D1CE4E5B9ull;
    return h ^ (h >> 32);
}

class CStringIndex {
public:
    static constexpr std::uint32_t NONE = 0xFFFFFFFFu;

    std::uint32_t Find(std::string_view key) const
    {
        if (m_slots.empty())
            return NONE;
        const std::uint64_t h = HashBytes(key);
        for (std::size_t i = h & m_mask;; i = (i + 1) & m_mask) {
            const Slot& s = m_slots[i];
            if (s.id == NONE)
                return NONE;
            if (s.hash == static_cast<std::uint32_t>(h) && m_keys[s.id] == key)
                return s.id;
        }
    }

    // The key's number, adding it when it is new.
    std::uint32_t Add(std::string_view key, bool* added = nullptr)
    {
        if ((m_keys.size() + 1) * 2 > m_slots.size())
            Grow();
        const std::uint64_t h = HashBytes(key);
        std::size_t i = h & m_mask;
        for (;; i = (i + 1) & m_mask) {
            const Slot& s = m_slots[i];
            if (s.id == NONE)
                break;
            if (s.hash == static_cast<std::uint32_t>(h) && m_keys[s.id] == key) {
                if (added)
                    *added = false;
                return s.id;
            }
        }
        const auto id = static_cast<std::uint32_t>(m_keys.size());
        m_keys.push_back(Keep(key));
        m_slots[i] = {static_cast<std::uint32_t>(h), id};
        if (added)
            *added = true;
        return id;
    }

    std::string_view Key(std::uint32_t id) const { return m_keys[id]; }
    std::size_t Size() const { return m_keys.size(); }

private:
    struct Slot {
        std::uint32_t hash = 0;
        std::uint32_t id = NONE;
    };

    void Grow()
    {
        const std::size_t size = m_slots.empty() ? 64 : m_slots.size() * 2;
        m_slots.assign(size, Slot{});
        m_mask = size - 1;
        for (std::uint32_t id = 0; id < m_keys.size(); ++id) {
            const std::uint64_t h = HashBytes(m_keys[id]);
            std::size_t i = h & m_mask;
            while (m_slots[i].id != NONE)
                i = (i + 1) & m_mask;
            m_slots[i] = {static_cast<std::uint32_t>(h), id};
        }
    }

    std::string_view Keep(std::string_view key)
    {
        if (key.size() > m_left) {
            const std::size_t size = key.size() > BLOCK / 4 ? key.size() : BLOCK;
            m_blocks.emplace_back(new char[size]);
            m_free = m_blocks.back().get();
            m_left = size;
        }
        if (!key.empty())
            std::memcpy(m_free, key.data(), key.size());
        const std::string_view kept(m_free, key.size());
        m_free += key.size();
        m_left -= key.size();
        return kept;
    }

    static constexpr std::size_t BLOCK = 64 * 1024;
    std::vector<Slot> m_slots;
    std::size_t m_mask = 0;
    std::vector<std::string_view> m_keys;
    std::vector<std::unique_ptr<char[]>> m_blocks;
    char* m_free = nullptr;
    std::size_t m_left = 0;
};
