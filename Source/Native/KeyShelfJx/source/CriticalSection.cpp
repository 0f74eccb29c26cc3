#include "CriticalSection.h"

void InitializeCriticalSection(_RTL_CRITICAL_SECTION* section) {
    pthread_mutexattr_init(&section->attributes);
    pthread_mutexattr_settype(&section->attributes, PTHREAD_MUTEX_RECURSIVE);
    pthread_mutex_init(&section->mutex, &section->attributes);
    sem_init(&section->semaphore, 0, 1);
    section->depth = 0;
}

void EnterCriticalSection(_RTL_CRITICAL_SECTION* section) {
    pthread_mutex_lock(&section->mutex);
    if (section->depth++ == 0) sem_wait(&section->semaphore);  // the outermost entry takes it
}

void LeaveCriticalSection(_RTL_CRITICAL_SECTION* section) {
    const bool outermost = --section->depth == 0;
    if (outermost) sem_post(&section->semaphore);
    pthread_mutex_unlock(&section->mutex);
}

bool TryEnterCriticalSection(_RTL_CRITICAL_SECTION* section) {
    if (pthread_mutex_trylock(&section->mutex) != 0) return false;
    if (section->depth++ == 0) sem_wait(&section->semaphore);
    return true;
}

unsigned long WaitForSingleObject(_RTL_CRITICAL_SECTION* section, unsigned long) {
    // Waits until the holder leaves; the time-out is not used.
    sem_wait(&section->semaphore);
    sem_post(&section->semaphore);
    return 0;
}

void DeleteCriticalSection(_RTL_CRITICAL_SECTION* section) { pthread_mutexattr_destroy(&section->attributes); }
