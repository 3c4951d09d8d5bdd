// Memory shims with the names of the Windows memory interface, mapped onto the
// process heap. The bitmap library obtains and releases every pixel block
// through them, so a block from GlobalAlloc may be released with free() and a
// malloc() block may be handed to a bitmap record.
#pragma once

#include <cstddef>
#include <cstdint>

typedef void* HGLOBAL;

// malloc of size bytes; the flags are ignored and the block is not cleared.
// Null when the memory cannot be had, and for any size above 1 TiB. The
// whole 2 MiB pages inside a block of 4 MiB or more are advised to the
// kernel for huge pages (madvise), which only makes first touching them
// cheaper.
HGLOBAL GlobalAlloc(uint32_t flags, size_t size);

// Advises the kernel to back the whole 2 MiB pages inside a block of 4 MiB
// or more (not yet touched) with huge pages; nothing for a smaller block.
void AdviseHugePages(void* block, size_t size);

// Returns the handle itself: a block is always at the address of its handle.
void* GlobalLock(HGLOBAL handle);

// Does nothing; returns 0.
int GlobalUnlock(HGLOBAL handle);

// free of the handle; null does nothing. Returns null.
HGLOBAL GlobalFree(HGLOBAL handle);

// Copies n bytes (the ranges must not overlap).
void CopyMemory(void* dst, const void* src, size_t n);

// Clears n bytes and returns p.
void* ZeroMemory(void* p, size_t n);

// (a x b) / c computed in 64 bits, the quotient truncated toward zero. A zero
// divisor, or a quotient outside the int32 range, gives -1.
int32_t MulDiv(int32_t a, int32_t b, int32_t c);
