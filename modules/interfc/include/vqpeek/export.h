// What the library's public headers mark as its interface. A shared build
// hides every other symbol, so that the internals stay free to change.
#ifndef VQPEEK_EXPORT_H_
#define VQPEEK_EXPORT_H_

#if defined(__GNUC__) || defined(__clang__)
#define VQPEEK_EXPORT __attribute__((visibility("default")))
#else
#define VQPEEK_EXPORT
#endif

#endif  // VQPEEK_EXPORT_H_
