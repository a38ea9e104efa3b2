#include "encode/frame_coder.h"

#include "player/movie_format.h"

#include <algorithm>
#include <array>
#include <bit>
#include <cstdio>
#include <cstdlib>
#include <string>

namespace kmov {

namespace {

// The coder broke its own invariant: the codes it planned do not apply to
// its model of the decoder's buffer, or do not give the frame asked for.
// No input can cause this (any frame of the coder's size can be coded), so
// it is a bug in the coder, reported as such and ended at once rather than
// returned: a movie coded past it would not be the frame asked for.
[[noreturn]] void coder_fault(const std::string &what) {
    std::fprintf(stderr, "kmov: frame coder fault: %s (a bug; please report it)\n", what.c_str());
    std::abort();
}

} // namespace

namespace {

// The run operations the row programme chooses from, by index.
enum {
    K_SKIP = 0,
    K_FILL = 1,
    K_COPY_RIGHT = 2, // index k from here to 8 is the copy FRAME_OP_COPY_RIGHT + k - 2
    K_COPY_ABOVE_LEFT = 6,
    K_COPY_ABOVE_RIGHT = 8,
    K_COUNT = 9,
    K_LITERAL = 9,
};

constexpr int PALETTE = MOVIE_PALETTE_COLOURS;

int copy_op(int k) {
    return FRAME_OP_COPY_RIGHT + (k - K_COPY_RIGHT);
}

FrameCode make_code(int k, int n, uint8_t literal) {
    if (k == K_LITERAL)
        return {literal, 1};
    if (k == K_SKIP)
        return {static_cast<uint8_t>(frame_skip_op(n)), n};
    if (k == K_FILL)
        return {static_cast<uint8_t>(frame_fill_op(n)), n};
    return {static_cast<uint8_t>(copy_op(k)), n};
}

int short_max(int k) {
    return k == K_SKIP ? FRAME_SKIP_SHORT_MAX : k == K_FILL ? FRAME_FILL_SHORT_MAX : 0;
}

int run_cost(int k, int n) {
    return n <= short_max(k) ? 1 : 2;
}

} // namespace

void put_frame_code(std::vector<uint8_t> &out, const FrameCode &code) {
    out.push_back(code.op);
    if (frame_code_size(code) == 2)
        out.push_back(static_cast<uint8_t>(code.n - 2));
}

FrameCoder::FrameCoder(int width, int height)
    : model_(width, height), width_(width), height_(height), stride_(model_.stride()) {}

// The longest run operation k may have. In a buffer of stride 4 a copy from
// above right reads the group it is writing when it is 4 bytes or longer;
// the coder does not use that.
static int max_run(int k, int stride) {
    return k == K_COPY_ABOVE_RIGHT && stride < 8 ? 3 : FRAME_RUN_MAX;
}

bool FrameCoder::source(int k, int row, int i, uint8_t &value) const {
    const ptrdiff_t size = static_cast<ptrdiff_t>(model_.size());
    const ptrdiff_t start = static_cast<ptrdiff_t>(row) * stride_;
    const ptrdiff_t x = start + i;
    const uint8_t *bytes = model_.bytes().data();
    const uint8_t *known = model_.known().data();
    const uint8_t *t = target_ + static_cast<ptrdiff_t>(row) * width_;
    const ptrdiff_t s = stride_;
    ptrdiff_t y;
    switch (k) {
    case K_SKIP:
        if (first_ || !known[x])
            return false;
        value = bytes[x];
        return true;
    case K_FILL:
        if (i > 0) {
            value = t[i - 1];
            return true;
        }
        if (first_ || x == 0 || !known[x - 1])
            return false;
        value = bytes[x - 1];
        return true;
    case K_COPY_ABOVE_LEFT:
    case K_COPY_ABOVE_LEFT + 1:
    case K_COPY_ABOVE_RIGHT:
        y = x + frame_copy_offset(copy_op(k), s);
        if (y < 0)
            return false;
        if (y >= start) { // 247 at the last column reads this row's first pixel
            if (tolerance_ != nullptr)
                return false;
            value = t[y - start];
            return true;
        }
        if (!known[y])
            return false;
        value = bytes[y];
        return true;
    default: // 241 to 244: bytes ahead of the cursor, as they were
        if (first_)
            return false;
        y = x + frame_copy_offset(copy_op(k), s);
        if (y >= size || !known[y])
            return false;
        value = bytes[y];
        return true;
    }
}

void FrameCoder::plan(RowPlan &plan, int row) {
    const int w = width_;
    const uint8_t *t = target_ + static_cast<ptrdiff_t>(row) * w;
    const bool lossy = tolerance_ != nullptr;
    plan.best.assign(static_cast<size_t>(w) + 1, 0);
    plan.op.assign(static_cast<size_t>(w) + 1, K_LITERAL);
    plan.from.assign(static_cast<size_t>(w) + 1, 0);
    plan.value.assign(static_cast<size_t>(w) + 1, 0);

    // Bit k of match[i]: operation k may leave column i as it must be;
    // sources holds the value it leaves there.
    match_.assign(static_cast<size_t>(w), 0);
    uint16_t *__restrict match = match_.data();
    if (lossy)
        sources_.assign(static_cast<size_t>(K_COUNT) * static_cast<size_t>(w), 0);
    const ptrdiff_t s = stride_;
    const ptrdiff_t start = static_cast<ptrdiff_t>(row) * s;
    const uint8_t *bytes = model_.bytes().data();
    for (int k = 0; k < K_COUNT; k++) {
        if (k == K_FILL && lossy)
            continue; // the fill value depends on the path: handled below
        const uint16_t bit = static_cast<uint16_t>(1u << k);
        uint8_t *sv =
            lossy ? sources_.data() + static_cast<size_t>(k) * static_cast<size_t>(w) : nullptr;
        // Inside the row every source is a pixel of this row (fill), of
        // the previous frame or of a row above, so it is known and in the
        // buffer whenever the operation may be used at all; the first and
        // last columns may read padding or past the buffer and are checked
        // one by one.
        bool inside = w > 2;
        const uint8_t *from = nullptr;
        switch (k) {
        case K_SKIP:
            from = bytes + start;
            inside = inside && !first_;
            break;
        case K_FILL:
            from = t - 1;
            break;
        case K_COPY_RIGHT:
            from = bytes + start + 1;
            inside = inside && !first_;
            break;
        case K_COPY_RIGHT + 1:
        case K_COPY_RIGHT + 2:
        case K_COPY_RIGHT + 3:
            from = bytes + start + s + (k - K_COPY_RIGHT - 2);
            inside = inside && !first_ && row + 1 < height_;
            break;
        default:
            from = bytes + start - s + (k - K_COPY_ABOVE_LEFT - 1);
            inside = inside && row >= 1;
            break;
        }
        if (inside) {
            if (lossy) {
                for (int i = 1; i < w - 1; i++) {
                    sv[i] = from[i];
                    if (tolerance_[t[i] * PALETTE + from[i]])
                        match[i] |= bit;
                }
            } else {
                const uint8_t *__restrict a = from;
                const uint8_t *__restrict b = t;
                for (int i = 1; i < w - 1; i++) // without a branch: equality is random
                    match[i] = static_cast<uint16_t>(match[i] | (bit * (a[i] == b[i])));
            }
        }
        for (int i = 0; i < w; i += (inside && i == 0 && w > 1) ? w - 1 : 1) {
            uint8_t v;
            if (!source(k, row, i, v))
                continue;
            if (lossy)
                sv[i] = v;
            if (lossy ? tolerance_[t[i] * PALETTE + v] != 0 : v == t[i])
                match[i] |= bit;
        }
    }

    // Windows of run starts per operation: run_start[k] is the first column
    // of the current stretch that k may cover; the deque holds candidate
    // starts in that stretch by increasing best[]. Only the operations that
    // match a column are visited there, in order; a stretch starts where an
    // operation matches and did not at the column before.
    std::array<int32_t, K_COUNT> run_start{};
    std::array<int, K_COUNT> longest{};
    for (int k = 0; k < K_COUNT; k++)
        longest[k] = max_run(k, stride_);
    if (deques_.size() < static_cast<size_t>(K_COUNT) * (static_cast<size_t>(w) + 1))
        deques_.resize(static_cast<size_t>(K_COUNT) * (static_cast<size_t>(w) + 1));
    std::array<int32_t, K_COUNT> head{}, tail{};

    std::vector<FillStart> &fills = fill_starts_;
    fills.clear();
    if (lossy) {
        uint8_t v;
        if (source(K_FILL, row, 0, v))
            plan.value[0] = v, fills.push_back({v, 0, 0});
    }

    int32_t *best = plan.best.data();
    uint32_t before = 0; // the operations that matched the column before
    for (int q = 1; q <= w; q++) {
        const int i = q - 1;
        int32_t b = best[i] + 1;
        uint8_t b_op = K_LITERAL;
        int32_t b_from = i;
        uint8_t b_value = t[i];
        const uint32_t here = match[i];
        for (uint32_t fresh = here & ~before; fresh != 0; fresh &= fresh - 1) {
            const int k = std::countr_zero(fresh);
            run_start[k] = i;
            head[k] = tail[k] = 0;
        }
        before = here;
        for (uint32_t left = here; left != 0; left &= left - 1) {
            const int k = std::countr_zero(left);
            int32_t *dq = deques_.data() + static_cast<size_t>(k) * (static_cast<size_t>(w) + 1);
            const int32_t p_new = q - 2;
            if (p_new >= run_start[k]) {
                while (tail[k] > head[k] && best[dq[tail[k] - 1]] >= best[p_new])
                    tail[k]--;
                dq[tail[k]++] = p_new;
            }
            const int32_t lo = std::max(run_start[k], q - longest[k]);
            while (tail[k] > head[k] && dq[head[k]] < lo)
                head[k]++;
            int32_t c_best = INT32_MAX, c_from = 0;
            if (tail[k] > head[k]) {
                c_from = dq[head[k]];
                c_best = best[c_from] + run_cost(k, q - c_from);
            }
            if (const int sm = short_max(k); sm > 0)
                for (int32_t p = std::max(lo, q - sm); p <= q - 2; p++)
                    if (best[p] + 1 < c_best)
                        c_best = best[p] + 1, c_from = p;
            if (c_best < b) {
                b = c_best;
                b_op = static_cast<uint8_t>(k);
                b_from = c_from;
                if (lossy)
                    b_value = sources_[static_cast<size_t>(k) * static_cast<size_t>(w) +
                                       static_cast<size_t>(i)];
            }
        }
        if (lossy) {
            // Fills from every start whose left value every pixel since
            // tolerates; at most a few distinct values are alive at once.
            if (i > 0 || !fills.empty()) {
                if (i > 0) {
                    const uint8_t v = plan.value[i];
                    std::erase_if(fills, [&](const FillStart &f) {
                        return f.value == v && f.cost >= best[i];
                    });
                    fills.push_back({v, i, best[i]});
                }
                std::erase_if(fills, [&](const FillStart &f) {
                    return q - f.at > FRAME_RUN_MAX || !tolerance_[t[i] * PALETTE + f.value];
                });
                if (fills.size() > 32)
                    fills.erase(fills.begin(),
                                fills.begin() + static_cast<ptrdiff_t>(fills.size() - 32));
                for (const FillStart &f : fills) {
                    if (q - f.at < FRAME_RUN_MIN)
                        continue;
                    const int32_t c = f.cost + run_cost(K_FILL, q - f.at);
                    if (c < b)
                        b = c, b_op = K_FILL, b_from = f.at, b_value = f.value;
                }
            }
        }
        best[q] = b;
        plan.op[q] = b_op;
        plan.from[q] = b_from;
        plan.value[q] = b_value;
    }
    for (int k = 0; k < K_COUNT; k++)
        if (!(before & (1u << k)) && !(k == K_FILL && lossy))
            run_start[k] = w; // no stretch reaches the row's end
    plan.run_start = run_start;
}

std::vector<FrameCode> FrameCoder::codes_of(const RowPlan &plan, int row, int end) const {
    std::vector<FrameCode> codes;
    const uint8_t *t = target_ + static_cast<ptrdiff_t>(row) * width_;
    for (int q = end; q > 0;) {
        const int k = plan.op[q];
        const int p = plan.from[q];
        codes.push_back(make_code(k, q - p, t[q - 1]));
        q = p;
    }
    std::reverse(codes.begin(), codes.end());
    return codes;
}

void FrameCoder::find_overruns(const RowPlan &plan, int row, std::vector<Overrun> &out) {
    out.clear();
    const int w = width_;
    const ptrdiff_t s = stride_;
    const ptrdiff_t size = static_cast<ptrdiff_t>(model_.size());
    const ptrdiff_t start = static_cast<ptrdiff_t>(row) * s;
    const uint8_t *bytes = model_.bytes().data();
    const uint8_t *known = model_.known().data();
    const uint8_t *t = target_ + static_cast<ptrdiff_t>(row) * w;
    for (int k = K_FILL; k < K_COUNT; k++) {
        if (plan.run_start[k] > w - 1)
            continue; // k cannot cover the row's last pixel
        const int longest = max_run(k, stride_);
        Overrun run;
        run.op = static_cast<uint8_t>(k);
        bool useful = false;
        for (int i = w; i < w - 1 + longest; i++) {
            const ptrdiff_t x = start + i;
            if (x >= size)
                break;
            ptrdiff_t y;
            uint8_t v;
            if (k == K_FILL) {
                v = t[w - 1];
            } else if (k < K_COPY_ABOVE_LEFT) {
                y = x + frame_copy_offset(copy_op(k), s);
                if (y >= size || !known[y])
                    break;
                v = bytes[y];
            } else {
                y = x + frame_copy_offset(copy_op(k), s);
                const ptrdiff_t at = y - start;
                if (at < 0) {
                    if (!known[y])
                        break;
                    v = bytes[y];
                } else if (at < w) {
                    v = t[at];
                } else {
                    v = run.bytes[static_cast<size_t>(at - w)];
                }
            }
            const ptrdiff_t column = x % s;
            if (column < w) {
                if (v != target_[(x / s) * w + column])
                    break;
                useful = useful || bytes[x] != v;
            } else {
                useful = useful || !known[x] || bytes[x] != v;
            }
            run.bytes.push_back(v);
        }
        if (run.bytes.empty() || !useful)
            continue;
        run.end = w + static_cast<int>(run.bytes.size());
        run.start = std::max(plan.run_start[k], run.end - longest);
        run.cost = plan.best[static_cast<size_t>(run.start)] + run_cost(k, run.end - run.start);
        out.push_back(std::move(run));
    }
}

std::vector<FrameCode> FrameCoder::code_row(std::span<const uint8_t> target, int row, bool first,
                                            const CoderOptions &options) {
    target_ = target.data();
    first_ = first;
    tolerance_ = options.tolerance;
    plan(plans_[0], row);
    return codes_of(plans_[0], row, width_);
}

void FrameCoder::apply_codes(const std::vector<FrameCode> &codes, int row) {
    size_t at = static_cast<size_t>(row) * static_cast<size_t>(stride_);
    for (const FrameCode &code : codes) {
        std::string fault = model_.apply(code.op, at, code.n);
        if (!fault.empty())
            coder_fault("row " + std::to_string(row) + ": " + fault);
        at += static_cast<size_t>(code.n);
    }
}

std::vector<uint8_t> FrameCoder::code_frame(std::span<const uint8_t> target, bool first,
                                            const CoderOptions &options) {
    if (target.size() != static_cast<size_t>(width_) * static_cast<size_t>(height_))
        coder_fault("a frame of " + std::to_string(target.size()) + " pixels for a coder of " +
                    std::to_string(width_) + " x " + std::to_string(height_));
    target_ = target.data();
    first_ = first;
    tolerance_ = options.tolerance;
    if (first)
        model_.forget();
    const bool overruns = options.runs_past_row_end && tolerance_ == nullptr;
    const int w = width_;
    std::vector<uint8_t> out;
    out.reserve(target.size() / 4);
    std::vector<Overrun> candidates;
    std::vector<uint8_t> saved_bytes, saved_known;
    bool planned = false; // plans_[row & 1] already holds this row's plan
    for (int row = 0; row < height_; row++) {
        RowPlan &current = plans_[row & 1];
        if (!planned)
            plan(current, row);
        planned = false;
        const size_t row_at = static_cast<size_t>(row) * static_cast<size_t>(stride_);
        std::vector<FrameCode> codes = codes_of(current, row, w);
        bool applied = false;
        if (overruns && row + 1 < height_) {
            find_overruns(current, row, candidates);
            if (!candidates.empty()) {
                // Code the next row after this one ends at its last pixel,
                // then after each run that goes on past it, and keep the
                // cheaper pair. The row's own pixels come out the same
                // either way; only the bytes past the row's end differ.
                auto &bytes = model_.bytes();
                auto &known = model_.known();
                const size_t keep_end =
                    std::min(model_.size(), row_at + static_cast<size_t>(w) + FRAME_RUN_MAX +
                                                static_cast<size_t>(stride_));
                saved_bytes.assign(bytes.begin() + static_cast<ptrdiff_t>(row_at),
                                   bytes.begin() + static_cast<ptrdiff_t>(keep_end));
                saved_known.assign(known.begin() + static_cast<ptrdiff_t>(row_at),
                                   known.begin() + static_cast<ptrdiff_t>(keep_end));
                apply_codes(codes, row);
                RowPlan &next = plans_[(row + 1) & 1];
                plan(next, row + 1);
                int32_t best_total =
                    current.best[static_cast<size_t>(w)] + next.best[static_cast<size_t>(w)];
                const Overrun *chosen = nullptr;
                const size_t at = row_at + static_cast<size_t>(w);
                for (const Overrun &run : candidates) {
                    const size_t n = run.bytes.size();
                    std::copy(run.bytes.begin(), run.bytes.end(),
                              bytes.begin() + static_cast<ptrdiff_t>(at));
                    std::fill_n(known.begin() + static_cast<ptrdiff_t>(at), n, uint8_t{1});
                    plan(plans_[2], row + 1);
                    const size_t back = at - row_at;
                    std::copy_n(saved_bytes.begin() + static_cast<ptrdiff_t>(back), n,
                                bytes.begin() + static_cast<ptrdiff_t>(at));
                    std::copy_n(saved_known.begin() + static_cast<ptrdiff_t>(back), n,
                                known.begin() + static_cast<ptrdiff_t>(at));
                    const int32_t total = run.cost + plans_[2].best[static_cast<size_t>(w)];
                    if (total < best_total) {
                        best_total = total;
                        chosen = &run;
                    }
                }
                if (chosen == nullptr) {
                    applied = true;
                    planned = true;
                } else {
                    std::copy(saved_bytes.begin(), saved_bytes.end(),
                              bytes.begin() + static_cast<ptrdiff_t>(row_at));
                    std::copy(saved_known.begin(), saved_known.end(),
                              known.begin() + static_cast<ptrdiff_t>(row_at));
                    codes = codes_of(current, row, chosen->start);
                    codes.push_back(make_code(chosen->op, chosen->end - chosen->start, 0));
                }
            }
        }
        if (!applied)
            apply_codes(codes, row);
        for (const FrameCode &code : codes)
            put_frame_code(out, code);
        const uint8_t *got = model_.bytes().data() + row_at;
        const uint8_t *want = target_ + static_cast<size_t>(row) * static_cast<size_t>(w);
        for (int i = 0; i < w; i++)
            if (tolerance_ ? !tolerance_[want[i] * PALETTE + got[i]] : got[i] != want[i])
                coder_fault("row " + std::to_string(row) + " column " + std::to_string(i) +
                            " came out wrong");
    }
    return out;
}

} // namespace kmov
