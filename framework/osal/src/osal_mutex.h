#pragma once
// Thin wrapper over the thread library's mutex, used by the media library.
#include <pthread.h>

struct OSA_MutexHndl {
    pthread_mutex_t lock;
};

int OSA_mutexCreate(OSA_MutexHndl *hndl);
int OSA_mutexDelete(OSA_MutexHndl *hndl);
int OSA_mutexLock(OSA_MutexHndl *hndl);
int OSA_mutexUnlock(OSA_MutexHndl *hndl);
