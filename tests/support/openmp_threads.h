#pragma once
// The OpenMP thread-count calls the serial-versus-parallel tests use, also where the build has no
// OpenMP (everything then runs on one thread).
#ifdef _OPENMP
#include <omp.h>
#else
inline int omp_get_max_threads()
{
    return 1;
}
inline void omp_set_num_threads(int) {}
#endif
