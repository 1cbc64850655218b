#pragma once
// Symbol visibility of libqrmime.so: the library is built with hidden visibility, and
// only what carries QRMIME_API is part of its interface.

#if defined(QRMIME_BUILDING)
#define QRMIME_API __attribute__((visibility("default")))
#else
#define QRMIME_API
#endif
