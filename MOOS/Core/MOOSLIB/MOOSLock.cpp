#include "MOOSLIB/MOOSLock.h"

CMOOSLock::CMOOSLock(bool)
{
    pthread_mutex_init(&m_hLock, nullptr);
}

CMOOSLock::~CMOOSLock()
{
    pthread_mutex_destroy(&m_hLock);
}

void CMOOSLock::Lock()
{
    pthread_mutex_lock(&m_hLock);
}

void CMOOSLock::UnLock()
{
    pthread_mutex_unlock(&m_hLock);
}
