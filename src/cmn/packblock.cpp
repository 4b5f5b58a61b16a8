/*
 * cmn/packblock - colour-block encoder for pack code 0x18: 4x4 blocks of 5:6:5 pixels.
 *
 * Stream:
 *
 *   0x18 0xFB  size(3)  0x00  width(2)      size = width x height x 2, big-endian
 *   blocks of 8 bytes, left to right, block row by block row:
 *   c0(2, LE)  c1(2, LE)  row0 row1 row2 row3     2-bit index per pixel, pixel 0 lowest
 *
 * c0 > c1 selects four colours (c0, c1 and the thirds between them); otherwise three
 * (c0, c1, their average) and black. Any two different endpoints can be written in
 * either order, so every endpoint pair is tried in both modes and the lower error wins.
 *
 * Fitting, by level: 1 takes the ends of the colours' principal axis and the extreme
 * pixels on it; 2-3 add least-squares refits of the endpoints to the chosen indices;
 * 4-6 add a hill climb over single 5:6:5 steps of the endpoints; 7-9 start from the
 * two best ordered clusterings of the pixels along the axis (every split into 4, and
 * into 3 plus black, solved in closed form) and climb longer. Error is the squared RGB
 * distance after widening to 8 bits, measured on the palette exactly as the decoder
 * builds it.
 *
 * Width and height must be multiples of 4: the decoder always writes whole blocks at a
 * pitch of the width, so with any other width the last block of each row would overwrite
 * the first pixels of the next row.
 *
 * Threads: none of its own; reentrant. No working memory beyond the stack.
 */
#include "thistle/pack.h"
#include "thistle/unpack.h"

#include "packbytes.h"

#include <cmath>
#include <cstring>

namespace {

constexpr uint16_t BLOCKMASK[3] = {0xF800, 0x07E0, 0x001F};
constexpr int32_t BLOCKTRIED = 256; /* a power of two */

struct blockfit {
    uint16_t word[16];
    int32_t rgb[16][3];   /* widened to 8 bits */
    float channel[3][16]; /* the same by channel */
    /* Endpoint pairs evaluated for this block when remember is set (see evaluate),
     * 0xFFFFFFFF for none; at most three quarters of the slots are used. */
    bool remember;
    int32_t triedcount;
    uint32_t tried[BLOCKTRIED];
};

struct blockbest {
    uint16_t c0;
    uint16_t c1;
    uint32_t error;
    uint8_t index[16];
};

void widen(uint16_t c, int32_t out[3]) {
    int32_t r = c >> 11;
    int32_t g = (c >> 5) & 63;
    int32_t b = c & 31;
    out[0] = (r << 3) | (r >> 2);
    out[1] = (g << 2) | (g >> 4);
    out[2] = (b << 3) | (b >> 2);
}

/* The four palette entries exactly as the decoder derives them. */
void palette(uint16_t c0, uint16_t c1, uint16_t pal[4]) {
    uint32_t p2 = 0;
    uint32_t p3 = 0;
    for (uint32_t m : BLOCKMASK) {
        uint32_t f0 = c0 & m;
        uint32_t f1 = c1 & m;
        if (c0 > c1) {
            p2 |= ((f0 * 43690u + f1 * 21846u) >> 16) & m;
            p3 |= ((f0 * 21846u + f1 * 43690u) >> 16) & m;
        } else {
            p2 |= ((f0 + f1) / 2) & m;
        }
    }
    pal[0] = c0;
    pal[1] = c1;
    pal[2] = static_cast<uint16_t>(p2);
    pal[3] = static_cast<uint16_t>(p3);
}

/* Error of the ordered endpoints with each pixel on its nearest entry (the first of
 * equals); records them in best when lower. The sums are whole numbers below 2^24, so
 * the floats are exact; all 16 pixels are done at once, which is quicker than leaving
 * early once the error passes the best. */
uint32_t evaluate(blockfit &fit, uint16_t c0, uint16_t c1, blockbest &best) {
    /* A pair evaluated before cannot beat the best now, which has only fallen since;
     * the hill climb comes back to the same pairs often. */
    if (fit.remember) {
        const uint32_t key = static_cast<uint32_t>(c0) << 16 | c1;
        uint32_t slot = (key * 0x9E3779B1u) >> 24;
        while (fit.tried[slot] != 0xFFFFFFFFu && fit.tried[slot] != key) {
            slot = (slot + 1) & (BLOCKTRIED - 1);
        }
        if (fit.tried[slot] == key) {
            return 0xFFFFFFFFu;
        }
        if (fit.triedcount < BLOCKTRIED * 3 / 4) {
            fit.tried[slot] = key;
            fit.triedcount++;
        }
    }
    uint16_t pal[4];
    palette(c0, c1, pal);
    float entry[4][3];
    for (int32_t k = 0; k < 4; k++) {
        int32_t rgb[3];
        widen(pal[k], rgb);
        for (int32_t c = 0; c < 3; c++) {
            entry[k][c] = static_cast<float>(rgb[c]);
        }
    }
    float least[16];
    int32_t index[16];
    for (int32_t k = 0; k < 4; k++) {
        for (int32_t i = 0; i < 16; i++) {
            const float dr = fit.channel[0][i] - entry[k][0];
            const float dg = fit.channel[1][i] - entry[k][1];
            const float db = fit.channel[2][i] - entry[k][2];
            const float d = dr * dr + dg * dg + db * db;
            const bool nearer = k == 0 || d < least[i];
            least[i] = nearer ? d : least[i];
            index[i] = nearer ? k : index[i];
        }
    }
    /* Four running sums rather than one chain of 16 additions: whole numbers add up to
     * the same total in any order. */
    float part[4] = {};
    for (int32_t i = 0; i < 16; i++) {
        part[i % 4] += least[i];
    }
    const uint32_t total = static_cast<uint32_t>((part[0] + part[1]) + (part[2] + part[3]));
    if (total >= best.error) {
        return total;
    }
    best.c0 = c0;
    best.c1 = c1;
    best.error = total;
    for (int32_t i = 0; i < 16; i++) {
        best.index[i] = static_cast<uint8_t>(index[i]);
    }
    return total;
}

/* Both modes of the endpoint pair {a, b}; returns the lower error. */
uint32_t trypair(blockfit &fit, uint16_t a, uint16_t b, blockbest &best) {
    uint16_t hi = a > b ? a : b;
    uint16_t lo = a > b ? b : a;
    uint32_t three = evaluate(fit, lo, hi, best);
    if (hi == lo) {
        return three;
    }
    uint32_t four = evaluate(fit, hi, lo, best);
    return four < three ? four : three;
}

int32_t quantizechannel(float v, int32_t top) {
    float q = v * static_cast<float>(top) / 255.0f + 0.5f;
    if (!(q > 0.0f)) {
        return 0;
    }
    int32_t n = static_cast<int32_t>(q);
    return n > top ? top : n;
}

uint16_t quantize(const float v[3]) {
    return static_cast<uint16_t>(quantizechannel(v[0], 31) << 11 | quantizechannel(v[1], 63) << 5 |
                                 quantizechannel(v[2], 31));
}

/* Principal axis (unit length) and mean of the block's colours not marked in skip. */
void principalaxis(const blockfit &fit, const bool skip[16], float mean[3], float axis[3]) {
    float count = 0;
    for (int32_t c = 0; c < 3; c++) {
        mean[c] = 0.0f;
    }
    for (int32_t i = 0; i < 16; i++) {
        if (!skip[i]) {
            count += 1.0f;
            for (int32_t c = 0; c < 3; c++) {
                mean[c] += fit.channel[c][i];
            }
        }
    }
    for (int32_t c = 0; c < 3; c++) {
        mean[c] /= count;
    }
    float cov[3][3] = {};
    for (int32_t i = 0; i < 16; i++) {
        if (skip[i]) {
            continue;
        }
        float d[3] = {fit.channel[0][i] - mean[0], fit.channel[1][i] - mean[1],
                      fit.channel[2][i] - mean[2]};
        for (int32_t r = 0; r < 3; r++) {
            for (int32_t c = 0; c < 3; c++) {
                cov[r][c] += d[r] * d[c];
            }
        }
    }
    /* Power iteration from the row of the widest channel. */
    int32_t widest = 0;
    for (int32_t c = 1; c < 3; c++) {
        if (cov[c][c] > cov[widest][widest]) {
            widest = c;
        }
    }
    float v[3] = {cov[widest][0], cov[widest][1], cov[widest][2]};
    for (int32_t step = 0; step < 8; step++) {
        float w[3];
        for (int32_t r = 0; r < 3; r++) {
            w[r] = cov[r][0] * v[0] + cov[r][1] * v[1] + cov[r][2] * v[2];
        }
        float top = std::fabs(w[0]);
        top = std::fabs(w[1]) > top ? std::fabs(w[1]) : top;
        top = std::fabs(w[2]) > top ? std::fabs(w[2]) : top;
        if (top < 1e-12f) {
            break;
        }
        for (int32_t r = 0; r < 3; r++) {
            v[r] = w[r] / top;
        }
    }
    float length = std::sqrt(v[0] * v[0] + v[1] * v[1] + v[2] * v[2]);
    if (length < 1e-12f) {
        v[0] = v[1] = v[2] = 1.0f;
        length = std::sqrt(3.0f);
    }
    for (int32_t c = 0; c < 3; c++) {
        axis[c] = v[c] / length;
    }
}

/* Least-squares endpoints for the best candidate's indices, tried in both modes. */
void refit(blockfit &fit, blockbest &best) {
    /* Weights of c0 and c1 for each index; in three-colour mode index 3 is black and
     * takes no part. */
    static const float four[4][2] = {{1, 0}, {0, 1}, {2.0f / 3, 1.0f / 3}, {1.0f / 3, 2.0f / 3}};
    static const float three[4][2] = {{1, 0}, {0, 1}, {0.5f, 0.5f}, {0, 0}};
    const float(*w)[2] = best.c0 > best.c1 ? four : three;
    float aa = 0, ab = 0, bb = 0;
    float ax[3] = {}, bx[3] = {};
    for (int32_t i = 0; i < 16; i++) {
        float a = w[best.index[i]][0];
        float b = w[best.index[i]][1];
        aa += a * a;
        ab += a * b;
        bb += b * b;
        for (int32_t c = 0; c < 3; c++) {
            ax[c] += a * fit.channel[c][i];
            bx[c] += b * fit.channel[c][i];
        }
    }
    float det = aa * bb - ab * ab;
    if (std::fabs(det) < 1e-6f) {
        return;
    }
    float e0[3], e1[3];
    for (int32_t c = 0; c < 3; c++) {
        e0[c] = (bb * ax[c] - ab * bx[c]) / det;
        e1[c] = (aa * bx[c] - ab * ax[c]) / det;
    }
    trypair(fit, quantize(e0), quantize(e1), best);
}

/* Least-squares endpoints for the runs [ends[r], ends[r + 1]) of the ordered pixels
 * (prefix sums of their colours), which take the palette entries in order with the
 * given c0 and c1 shares. Returns false when the runs do not determine two endpoints. */
bool solveruns(const float prefix[17][3], const int32_t ends[5], int32_t runs,
               const float (*share)[2], float e0[3], float e1[3]) {
    float aa = 0, ab = 0, bb = 0;
    float ax[3] = {}, bx[3] = {};
    for (int32_t r = 0; r < runs; r++) {
        float count = static_cast<float>(ends[r + 1] - ends[r]);
        float a = share[r][0];
        float b = share[r][1];
        aa += count * a * a;
        ab += count * a * b;
        bb += count * b * b;
        for (int32_t c = 0; c < 3; c++) {
            float sum = prefix[ends[r + 1]][c] - prefix[ends[r]][c];
            ax[c] += a * sum;
            bx[c] += b * sum;
        }
    }
    float det = aa * bb - ab * ab;
    if (det < 1e-4f) {
        return false;
    }
    for (int32_t c = 0; c < 3; c++) {
        e0[c] = (bb * ax[c] - ab * bx[c]) / det;
        e1[c] = (aa * bx[c] - ab * ax[c]) / det;
    }
    return true;
}

/* Best split of the pixels, ordered along the axis, into runs that take the palette
 * entries in order, solved in closed form before quantization. skip marks pixels left
 * to black.
 *
 * With the c0 shares of the runs scaled to whole numbers (four runs: 3 2 1 0 thirds;
 * three: 2 1 0 halves) and P the prefix sums of the colours, the c0 side of the normal
 * equations is X = P[i] + P[j] + P[k] (three runs: P[i] + P[j]), the c1 side
 * Y = d P[n] - X, and the matrix has whole entries aa, ab, bb. At the optimum the error
 * is the sum of squares less Q / det with Q = bb |X|^2 - 2 ab X.Y + aa |Y|^2: whole
 * numbers again, so every split is compared exactly (the earlier in loop order wins a
 * tie). Only the endpoints of the best two are solved and tried: those of the runner-up
 * now and then quantize to the lower error.
 *
 * Splits fall only between pixels of different colours: moving all pixels of one colour
 * to the run that suits them best never raises the error, so a split through equal
 * colours is never strictly better, and blocks of few colours have few splits. */
void clusterfit(blockfit &fit, const uint8_t order[16], const bool skip[16], int32_t runs,
                blockbest &best) {
    static const float share4[4][2] = {{1, 0}, {2.0f / 3, 1.0f / 3}, {1.0f / 3, 2.0f / 3}, {0, 1}};
    static const float share3[3][2] = {{1, 0}, {0.5f, 0.5f}, {0, 1}};
    float prefix[17][3] = {};
    int32_t n = 0;
    /* Split point g lies after at[g] pixels, whose colours sum to whole[g]. */
    int32_t at[17] = {};
    int64_t whole[17][3] = {};
    int64_t sum[3] = {};
    int32_t points = 0;
    uint16_t last = 0;
    for (int32_t i = 0; i < 16; i++) {
        const int32_t pixel = order[i];
        if (skip[pixel]) {
            continue;
        }
        if (n > 0 && fit.word[pixel] != last) {
            points++;
            at[points] = n;
            for (int32_t c = 0; c < 3; c++) {
                whole[points][c] = sum[c];
            }
        }
        last = fit.word[pixel];
        for (int32_t c = 0; c < 3; c++) {
            prefix[n + 1][c] = prefix[n][c] + fit.channel[c][pixel];
            sum[c] += fit.rgb[pixel][c];
        }
        n++;
    }
    if (n < 2) {
        return;
    }
    points++;
    at[points] = n;
    for (int32_t c = 0; c < 3; c++) {
        whole[points][c] = sum[c];
    }
    const int64_t d = runs == 4 ? 3 : 2;
    /* The best two splits so far, the best first. */
    int64_t q[2] = {-1, -1};
    int64_t det[2] = {1, 1};
    int32_t ends[2][5] = {};
    /* Run r covers [ends[r], ends[r + 1]); three runs pin the third start to n. */
    for (int32_t gi = 0; gi <= points; gi++) {
        const int64_t i = at[gi];
        for (int32_t gj = gi; gj <= points; gj++) {
            const int64_t j = at[gj];
            int64_t xij[3];
            for (int32_t c = 0; c < 3; c++) {
                xij[c] = whole[gi][c] + whole[gj][c];
            }
            for (int32_t gk = runs == 4 ? gj : points; gk <= points; gk++) {
                const int64_t k = at[gk];
                int64_t aa, ab, bb;
                int64_t x[3], y[3];
                if (runs == 4) {
                    aa = 5 * i + 3 * j + k;
                    ab = 2 * (k - i);
                    bb = 9 * n - i - 3 * j - 5 * k;
                    for (int32_t c = 0; c < 3; c++) {
                        x[c] = xij[c] + whole[gk][c];
                    }
                } else {
                    aa = 3 * i + j;
                    ab = j - i;
                    bb = 4 * n - i - 3 * j;
                    for (int32_t c = 0; c < 3; c++) {
                        x[c] = xij[c];
                    }
                }
                const int64_t m = aa * bb - ab * ab;
                if (m <= 0) {
                    continue;
                }
                int64_t xx = 0, xy = 0, yy = 0;
                for (int32_t c = 0; c < 3; c++) {
                    y[c] = d * sum[c] - x[c];
                    xx += x[c] * x[c];
                    xy += x[c] * y[c];
                    yy += y[c] * y[c];
                }
                const int64_t gain = bb * xx - 2 * ab * xy + aa * yy;
                int32_t place = gain * det[0] > q[0] * m ? 0 : gain * det[1] > q[1] * m ? 1 : 2;
                if (place == 0) {
                    q[1] = q[0];
                    det[1] = det[0];
                    std::memcpy(ends[1], ends[0], sizeof ends[0]);
                }
                if (place < 2) {
                    q[place] = gain;
                    det[place] = m;
                    ends[place][1] = static_cast<int32_t>(i);
                    ends[place][2] = static_cast<int32_t>(j);
                    ends[place][3] = static_cast<int32_t>(k);
                    ends[place][4] = n;
                }
            }
        }
    }
    for (int32_t place = 0; place < 2 && q[place] >= 0; place++) {
        float e0[3], e1[3];
        if (solveruns(prefix, ends[place], runs, runs == 4 ? share4 : share3, e0, e1)) {
            trypair(fit, quantize(e0), quantize(e1), best);
        }
    }
}

/* Moves the endpoints one 5:6:5 step at a time (one channel of one endpoint, or of both
 * together) while the error falls, for at most passes rounds. */
void climb(blockfit &fit, blockbest &best, int32_t passes) {
    static const uint16_t unit[3] = {0x0800, 0x0020, 0x0001};
    for (int32_t pass = 0; pass < passes && best.error > 0; pass++) {
        bool moved = false;
        for (int32_t which = 0; which < 3; which++) {
            for (int32_t c = 0; c < 3; c++) {
                for (int32_t sign = -1; sign <= 1; sign += 2) {
                    uint16_t e[2] = {best.c0, best.c1};
                    bool valid = true;
                    for (int32_t k = 0; k < 2; k++) {
                        if (which != 2 && which != k) {
                            continue;
                        }
                        uint32_t field = e[k] & BLOCKMASK[c];
                        if ((sign < 0 && field == 0) || (sign > 0 && field == BLOCKMASK[c])) {
                            valid = false;
                        }
                        e[k] = static_cast<uint16_t>(sign < 0 ? e[k] - unit[c] : e[k] + unit[c]);
                    }
                    uint32_t before = best.error;
                    if (valid && trypair(fit, e[0], e[1], best) < before) {
                        moved = true;
                    }
                }
            }
        }
        if (!moved) {
            break;
        }
    }
}

/* Tries the ends of the principal axis of the pixels not in skip, and the extreme
 * pixels on it; order receives all pixels sorted along the axis (from the far end). */
void axisfit(blockfit &fit, const bool skip[16], int32_t level, uint8_t order[16],
             blockbest &best) {
    float mean[3], axis[3];
    principalaxis(fit, skip, mean, axis);
    float t[16];
    int32_t low = -1, high = -1;
    for (int32_t i = 0; i < 16; i++) {
        t[i] = (fit.channel[0][i] - mean[0]) * axis[0] + (fit.channel[1][i] - mean[1]) * axis[1] +
               (fit.channel[2][i] - mean[2]) * axis[2];
        if (!skip[i]) {
            low = low < 0 || t[i] < t[low] ? i : low;
            high = high < 0 || t[i] > t[high] ? i : high;
        }
    }
    float e0[3], e1[3];
    for (int32_t c = 0; c < 3; c++) {
        e0[c] = mean[c] + axis[c] * t[high];
        e1[c] = mean[c] + axis[c] * t[low];
    }
    trypair(fit, quantize(e0), quantize(e1), best);
    trypair(fit, fit.word[high], fit.word[low], best);
    if (level >= 7) {
        for (int32_t i = 0; i < 16; i++) {
            int32_t j = i;
            for (; j > 0 && t[order[j - 1]] < t[i]; j--) {
                order[j] = order[j - 1];
            }
            order[j] = static_cast<uint8_t>(i);
        }
    }
}

void encodeblock(blockfit &fit, int32_t level, uint8_t out[8]) {
    blockbest best{};
    best.error = 0xFFFFFFFFu;
    /* One or two distinct colours: the endpoints themselves, exactly. */
    uint16_t other = fit.word[0];
    int32_t distinct = 1;
    for (int32_t i = 1; i < 16 && distinct < 3; i++) {
        if (fit.word[i] != fit.word[0] && (distinct == 1 || fit.word[i] != other)) {
            other = fit.word[i];
            distinct++;
        }
    }
    fit.remember = false;
    trypair(fit, fit.word[0], other, best);
    if (distinct > 2 && best.error > 0) {
        fit.remember = true;
        fit.triedcount = 0;
        std::memset(fit.tried, 0xFF, sizeof fit.tried);
        /* Pixels near black may be left to the three-colour mode's black entry, so the
         * axis is also fitted without them. */
        bool none[16] = {};
        bool dark[16];
        int32_t darks = 0;
        for (int32_t i = 0; i < 16; i++) {
            dark[i] = fit.rgb[i][0] <= 32 && fit.rgb[i][1] <= 32 && fit.rgb[i][2] <= 32;
            darks += dark[i] ? 1 : 0;
        }
        uint8_t order[16];
        axisfit(fit, none, level, order, best);
        if (level >= 7) {
            clusterfit(fit, order, none, 4, best);
            clusterfit(fit, order, none, 3, best);
        }
        if (darks > 0 && darks < 15) {
            axisfit(fit, dark, level, order, best);
            if (level >= 7) {
                clusterfit(fit, order, dark, 3, best);
            }
        }
        int32_t refits = level >= 7 ? 4 : level >= 2 ? (level >= 3 ? 2 : 1) : 0;
        int32_t passes = level >= 9 ? 64 : level >= 7 ? 16 : level >= 4 ? 2 << (level - 4) : 0;
        for (int32_t round = 0; round < refits && best.error > 0; round++) {
            uint32_t before = best.error;
            refit(fit, best);
            climb(fit, best, passes);
            if (best.error == before) {
                break;
            }
        }
        if (refits == 0) {
            climb(fit, best, passes);
        }
    }
    out[0] = static_cast<uint8_t>(best.c0);
    out[1] = static_cast<uint8_t>(best.c0 >> 8);
    out[2] = static_cast<uint8_t>(best.c1);
    out[3] = static_cast<uint8_t>(best.c1 >> 8);
    for (int32_t row = 0; row < 4; row++) {
        uint32_t bits = 0;
        for (int32_t x = 0; x < 4; x++) {
            bits |= static_cast<uint32_t>(best.index[row * 4 + x]) << (2 * x);
        }
        out[4 + row] = static_cast<uint8_t>(bits);
    }
}

} // namespace

/* Packs a width x height image of 5:6:5 pixels (rows of width pixels) as a colour-block
 * stream (code 0x18, signature 0xFB). level 1 (fastest) to 9 (best fit); 0 picks 6.
 * Returns the stream's size (8 + width x height / 2); PACK_EINVAL for sizes that are not
 * positive multiples of 4, a width above 65535 or more than PACK_MAXSIZE bytes of
 * pixels, a level outside 0..9 or a missing buffer; PACK_EOVERFLOW when the stream does
 * not fit in capacity (nothing is written then). */
int32_t blockpack(const uint16_t *pixels, int32_t width, int32_t height, void *destination,
                  size_t capacity, int32_t level) {
    if (level == 0) {
        level = 6;
    }
    if (pixels == nullptr || width <= 0 || height <= 0 || width % 4 != 0 || height % 4 != 0 ||
        width > 0xFFFF || level < 1 || level > 9 ||
        static_cast<uint64_t>(width) * static_cast<uint64_t>(height) * 2 > PACK_MAXSIZE ||
        (destination == nullptr && capacity > 0)) {
        return PACK_EINVAL;
    }
    uint32_t size = static_cast<uint32_t>(width) * static_cast<uint32_t>(height) * 2;
    size_t total = 8 + static_cast<size_t>(size) / 4;
    if (capacity < total) {
        return PACK_EOVERFLOW;
    }
    uint8_t *out = static_cast<uint8_t *>(destination);
    putpackheader(out, PACK_BLOCKCODE, size, PACK_SHORTHEADER);
    out[5] = 0;
    out[6] = static_cast<uint8_t>(width >> 8);
    out[7] = static_cast<uint8_t>(width);
    out += 8;
    blockfit fit;
    for (int32_t by = 0; by < height; by += 4) {
        for (int32_t bx = 0; bx < width; bx += 4) {
            for (int32_t i = 0; i < 16; i++) {
                uint16_t c = pixels[static_cast<size_t>(by + i / 4) * static_cast<size_t>(width) +
                                    static_cast<size_t>(bx + i % 4)];
                fit.word[i] = c;
                widen(c, fit.rgb[i]);
                for (int32_t k = 0; k < 3; k++) {
                    fit.channel[k][i] = static_cast<float>(fit.rgb[i][k]);
                }
            }
            encodeblock(fit, level, out);
            out += 8;
        }
    }
    return static_cast<int32_t>(total);
}
