#include "osal_mutex.h"

#include "pvna_log.h"

int OSA_mutexCreate(OSA_MutexHndl *hndl)
{
    pthread_mutexattr_t attr;
    int status = pthread_mutexattr_init(&attr);
    status |= pthread_mutex_init(&hndl->lock, &attr);
    pthread_mutexattr_destroy(&attr);
    if (status != 0)
        PVNA_ERROR("OSA_mutexCreate() = %d \r\n", status);
    return status;
}

int OSA_mutexDelete(OSA_MutexHndl *hndl)
{
    pthread_mutex_destroy(&hndl->lock);
    return 0;
}

int OSA_mutexLock(OSA_MutexHndl *hndl)
{
    return pthread_mutex_lock(&hndl->lock);
}

int OSA_mutexUnlock(OSA_MutexHndl *hndl)
{
    return pthread_mutex_unlock(&hndl->lock);
}
