#pragma once

#include <cstddef>
#include <list>
#include <mutex>
#include <new>

// An ordered, owning list of object pointers guarded by one lock. Every public
// operation holds the lock for its whole run; the list deletes what it still
// holds when it is cleared or destroyed. Lock is any re-entrant BasicLockable
// (a Windows critical section in the programs, std::recursive_mutex natively).
// Each object is held at most once.
template <typename T, typename Lock = std::recursive_mutex>
class CLockedList {
public:
    CLockedList() = default;
    CLockedList(const CLockedList&) = delete;
    CLockedList& operator=(const CLockedList&) = delete;
    virtual ~CLockedList() { Clear(); }

    // Appends an object; the list owns it from now on, also when it cannot be
    // appended (no memory for the node): it is then deleted and the answer is
    // false. A null pointer is ignored (false).
    bool PushBack(T* item)
    {
        if (!item)
            return false;
        std::lock_guard<Lock> guard(m_lock);
        try {
            m_items.push_back(item);
        } catch (const std::bad_alloc&) {
            delete item;
            return false;
        }
        return true;
    }

    // The first object, left in the list; null when the list is empty.
    T* Front() const
    {
        std::lock_guard<Lock> guard(m_lock);
        return m_items.empty() ? nullptr : m_items.front();
    }

    std::size_t Count() const
    {
        std::lock_guard<Lock> guard(m_lock);
        return m_items.size();
    }

    // Unlinks the object and deletes it; true when the list held it. An object
    // the list does not hold is left alone: it is not the list's to delete.
    bool Remove(T* item)
    {
        std::lock_guard<Lock> guard(m_lock);
        for (auto it = m_items.begin(); it != m_items.end(); ++it) {
            if (*it == item) {
                m_items.erase(it);
                delete item;
                return true;
            }
        }
        return false;
    }

    // Detaches the first object and hands it to the caller; null when empty.
    T* PopFront()
    {
        std::lock_guard<Lock> guard(m_lock);
        if (m_items.empty())
            return nullptr;
        T* item = m_items.front();
        m_items.pop_front();
        return item;
    }

    // Deletes every object, from the head on.
    void Clear()
    {
        std::lock_guard<Lock> guard(m_lock);
        while (!m_items.empty()) {
            T* item = m_items.front();
            m_items.pop_front();
            delete item;
        }
    }

    // Keeps the objects for which keep(object) answers true, in their order, and
    // deletes the others; answers how many stay. One pass over the list.
    template <typename Predicate>
    std::size_t KeepIf(Predicate keep)
    {
        std::lock_guard<Lock> guard(m_lock);
        std::size_t kept = 0;
        for (auto it = m_items.begin(); it != m_items.end();) {
            if (keep(**it)) {
                ++kept;
                ++it;
            } else {
                delete *it;
                it = m_items.erase(it);
            }
        }
        return kept;
    }

    // Calls f(object) for each object in order, under the lock.
    template <typename F>
    void ForEach(F f) const
    {
        std::lock_guard<Lock> guard(m_lock);
        for (T* item : m_items)
            f(*item);
    }

    Lock& Mutex() const { return m_lock; }

private:
    mutable Lock m_lock;
    std::list<T*> m_items;
};
