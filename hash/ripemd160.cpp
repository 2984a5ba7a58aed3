#include "hash/hash.h"
