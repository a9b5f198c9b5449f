// Code placement. The loader may discard the start-up section once the entry point has
// returned and may page out the pageable one, so only code that runs at PASSIVE_LEVEL during
// start or unload goes there. Everything not marked stays resident.
#pragma once

#if defined(__GNUC__)
#define TAVRO_INIT_CODE __attribute__((section("INIT")))
#define TAVRO_PAGED_CODE __attribute__((section("PAGE")))
#else
#define TAVRO_INIT_CODE
#define TAVRO_PAGED_CODE
#endif
