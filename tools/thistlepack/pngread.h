/*
 * pngread.h - PNG input for thistlepack's colour-block format: decodes a PNG file held in
 * memory to 5:6:5 pixels. Built with libpng when the build finds it; otherwise every
 * call reports that PNG input is not available. ispngdata (toolpng.h) tells a PNG.
 * Threads: no shared state.
 */
#ifndef THISTLEPACK_PNGREAD_H
#define THISTLEPACK_PNGREAD_H

#include <cstddef>
#include <cstdint>
#include <vector>

/* Decodes a PNG image to rows of little-endian 5:6:5 pixels (alpha is dropped, each
 * channel rounded to its width). Returns 1 and fills pixels, width and height; returns 0
 * and writes a short reason to error (errorsize bytes, always terminated) on failure. */
int readpng565(const uint8_t *data, size_t size, std::vector<uint16_t> &pixels, int32_t &width,
               int32_t &height, char *error, size_t errorsize);

#endif /* THISTLEPACK_PNGREAD_H */
