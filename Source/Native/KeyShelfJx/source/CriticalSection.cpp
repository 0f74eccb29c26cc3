#include "CriticalSection.h"

#include <cerrno>

#include "libapdu.h"

namespace {
const wchar_t kSource[] = L"Source/Native/KeyShelfJx/source/CriticalSection";

// A lock that cannot be taken or given back is a general error: carrying on
// would let two threads into the token map, or leave it held for ever.
[[noreturn]] void LockFailed(unsigned long line) { libapdu::ExternalRaise(0xFFFF, kSource, line); }

// A signal handled by the JVM while waiting interrupts sem_wait: wait again.
int WaitSemaphore(sem_t* semaphore) {
    int r;
    while ((r = sem_wait(semaphore)) != 0 && errno == EINTR) {
    }
    return r;
}

// The mutex is held by the caller: the outermost entry takes the semaphore. On
// failure the entry is undone and the mutex given back before raising.
void TakeSemaphoreHeld(_RTL_CRITICAL_SECTION* section, unsigned long line) {
    if (section->depth++ != 0) return;
    if (WaitSemaphore(&section->semaphore) == 0) return;
    --section->depth;
    pthread_mutex_unlock(&section->mutex);
    LockFailed(line);
}
}  // namespace

void InitializeCriticalSection(_RTL_CRITICAL_SECTION* section) {
    if (pthread_mutexattr_init(&section->attributes) != 0) LockFailed(__LINE__);
    if (pthread_mutexattr_settype(&section->attributes, PTHREAD_MUTEX_RECURSIVE) != 0 ||
        pthread_mutex_init(&section->mutex, &section->attributes) != 0) {
        pthread_mutexattr_destroy(&section->attributes);
        LockFailed(__LINE__);
    }
    if (sem_init(&section->semaphore, 0, 1) != 0) {
        pthread_mutex_destroy(&section->mutex);
        pthread_mutexattr_destroy(&section->attributes);
        LockFailed(__LINE__);
    }
    section->depth = 0;
}

void EnterCriticalSection(_RTL_CRITICAL_SECTION* section) {
    if (pthread_mutex_lock(&section->mutex) != 0) LockFailed(__LINE__);
    TakeSemaphoreHeld(section, __LINE__);
}

void LeaveCriticalSection(_RTL_CRITICAL_SECTION* section) {
    // The try-lock succeeds at once for the holder (the mutex is recursive) and
    // lets it read its depth; a thread that does not hold the section is refused
    // before anything changes, instead of posting the semaphore of another
    // thread's entry.
    if (pthread_mutex_trylock(&section->mutex) != 0) LockFailed(__LINE__);
    if (section->depth <= 0) {
        pthread_mutex_unlock(&section->mutex);
        LockFailed(__LINE__);
    }
    const bool outermost = --section->depth == 0;
    const bool posted = !outermost || sem_post(&section->semaphore) == 0;
    const bool unlocked = pthread_mutex_unlock(&section->mutex) == 0 && pthread_mutex_unlock(&section->mutex) == 0;
    if (!posted || !unlocked) LockFailed(__LINE__);
}

bool TryEnterCriticalSection(_RTL_CRITICAL_SECTION* section) {
    const int r = pthread_mutex_trylock(&section->mutex);
    if (r == EBUSY) return false;
    if (r != 0) LockFailed(__LINE__);
    TakeSemaphoreHeld(section, __LINE__);
    return true;
}

unsigned long WaitForSingleObject(_RTL_CRITICAL_SECTION* section, unsigned long) {
    // Waits until the holder leaves; the time-out is not used.
    if (WaitSemaphore(&section->semaphore) != 0 || sem_post(&section->semaphore) != 0) LockFailed(__LINE__);
    return 0;
}

void DeleteCriticalSection(_RTL_CRITICAL_SECTION* section) {
    if (pthread_mutexattr_destroy(&section->attributes) != 0) LockFailed(__LINE__);
}
