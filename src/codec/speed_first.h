// Included first by the expansion's inner loops (the tree build, the decoder
// and the window), before any other header, so that they and the inline
// routines they use are built for speed even where the rest of a core is built
// for size. VARNOW_SIZE_FIRST (the sanitized core, which barely fits) keeps
// them at the core's size setting.
#pragma once

#if defined(__GNUC__) && !defined(__clang__) && !defined(VARNOW_SIZE_FIRST)
#pragma GCC optimize("O2")
#endif
