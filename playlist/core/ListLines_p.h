#pragma once

// The line ends of playlist text, shared by the readers of every format.

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

// Calls `line(begin, end)` for every line of the text, by the line-end rules
// of playlist files. The text is looked at 16 bytes at a time for CR and LF
// together, so a million short lines cost one pass and no call per line.
template <class LineFn> void ForEachListLine(const char* p, const char* end, LineFn&& line) {
    const char* start = p; // where the current line begins
    // Ends the line at `e` and starts the next one after its line end; the
    // LF of a CR LF then lies before `start` and is passed over.
    auto endLine = [&](const char* e) {
        if (e < start)
            return;
        line(start, e);
        start = (*e == '\r' && e + 1 < end && e[1] == '\n') ? e + 2 : e + 1;
    };
    const char* q = p;
#if defined(__SSE2__)
    const __m128i lf = _mm_set1_epi8('\n');
    const __m128i cr = _mm_set1_epi8('\r');
    for (; end - q >= 16; q += 16) {
        const __m128i bytes = _mm_loadu_si128(reinterpret_cast<const __m128i*>(q));
        unsigned ends = unsigned(
            _mm_movemask_epi8(_mm_or_si128(_mm_cmpeq_epi8(bytes, lf), _mm_cmpeq_epi8(bytes, cr))));
        for (; ends != 0; ends &= ends - 1)
            endLine(q + __builtin_ctz(ends));
    }
#endif
    for (; q < end; ++q)
        if (*q == '\n' || *q == '\r')
            endLine(q);
    if (start < end)
        line(start, end);
}
