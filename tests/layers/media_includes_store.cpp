// The media engine knows nothing of programs.
#include "store/CacheManager.h"
