// A recursive critical section on a POSIX mutex and semaphore, the scoped lock
// that takes it, and the reference-counted pointer the token module holds tokens by.
#ifndef KEYSHELF_CRITICALSECTION_H
#define KEYSHELF_CRITICALSECTION_H

#include <pthread.h>
#include <semaphore.h>

#include <atomic>
#include <cstdint>
#include <exception>

struct _RTL_CRITICAL_SECTION {
    pthread_mutex_t mutex;
    pthread_mutexattr_t attributes;
    sem_t semaphore;  // 1 while free, 0 while a thread holds the section
    int depth;        // entries of the holding thread; touched only with the mutex held
};

// A failure of the underlying mutex or semaphore raises FFFF; so does a leave
// by a thread that does not hold the section.
void InitializeCriticalSection(_RTL_CRITICAL_SECTION* section);
void EnterCriticalSection(_RTL_CRITICAL_SECTION* section);
void LeaveCriticalSection(_RTL_CRITICAL_SECTION* section);
bool TryEnterCriticalSection(_RTL_CRITICAL_SECTION* section);
unsigned long WaitForSingleObject(_RTL_CRITICAL_SECTION* section, unsigned long milliseconds);
void DeleteCriticalSection(_RTL_CRITICAL_SECTION* section);

namespace KOVA {
namespace APDUSupport {

// Entering and leaving raise FFFF when the POSIX calls fail. A failed leave at
// the end of a scope is raised too, unless the scope is already being left by an
// exception: that one is on its way to the caller, and a second would end the
// process.
class CAutoCSLock {
public:
    explicit CAutoCSLock(_RTL_CRITICAL_SECTION& section)
        : m_section(section), m_unwinding(std::uncaught_exceptions()) {
        EnterCriticalSection(&m_section);
    }
    ~CAutoCSLock() noexcept(false) {
        try {
            LeaveCriticalSection(&m_section);
        } catch (...) {
            if (std::uncaught_exceptions() == m_unwinding) throw;
        }
    }
    CAutoCSLock(const CAutoCSLock&) = delete;
    CAutoCSLock& operator=(const CAutoCSLock&) = delete;

private:
    _RTL_CRITICAL_SECTION& m_section;
    int m_unwinding;
};

}  // namespace APDUSupport
}  // namespace KOVA

// Copies of one token's pointer are made and dropped on different Java threads,
// so the count is atomic.
template <class T> class sh_ptr {
public:
    struct Rep {
        T* pointee;
        std::atomic<int64_t> count;
        explicit Rep(T* p) : pointee(p), count(1) {}
        ~Rep() { delete pointee; }
    };

    explicit sh_ptr(T* p = nullptr) {
        try {
            m_rep = new Rep(p);
        } catch (...) {
            delete p;
            throw;
        }
    }
    sh_ptr(const sh_ptr& other) : m_rep(other.m_rep) { m_rep->count.fetch_add(1, std::memory_order_relaxed); }
    sh_ptr& operator=(const sh_ptr& other) {
        other.m_rep->count.fetch_add(1, std::memory_order_relaxed);
        release();
        m_rep = other.m_rep;
        return *this;
    }
    ~sh_ptr() { release(); }

    T* operator->() const { return m_rep->pointee; }
    T* get() const { return m_rep->pointee; }
    int64_t use_count() const { return m_rep->count.load(); }

private:
    void release() {
        if (m_rep->count.fetch_sub(1, std::memory_order_acq_rel) == 1) delete m_rep;
    }
    Rep* m_rep;
};

#endif
