// hash.h -- RIPEMD-160 and other small shared helpers.
#pragma once
