// The frame coder: the fewest bytes per row (checked against a search over
// every sequence of codes on small rows), exact round trips through the
// decoder, first frames that decode the same over any buffer, and lossy
// coding that stays within its tolerance.
#include "encode/frame_coder.h"
#include "encode/frame_check.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <random>

namespace kmov {
namespace {

using Frame = std::vector<uint8_t>;

// Fewest bytes for `row` over every sequence of codes, carried out on the
// model with the decoder's rules, under the coder's own rules: the row's
// pixels come out as the target, nothing unknown is read, a first frame uses
// only literals, fills off column 0 and copies from above, and a run that
// passes the row's end leaves later rows' pixels as their targets. Returns
// `bound` when nothing cheaper than `bound` exists.
class Exhaustive {
  public:
    Exhaustive(const Frame &target, int row, bool first)
        : target_(target), row_(row), first_(first) {}

    int search(const FrameModel &model, int bound) {
        best_ = bound;
        step(model, 0, 0);
        return best_;
    }

  private:
    bool allowed(uint8_t op, int column, const FrameModel &model) const {
        if (!first_)
            return true;
        if (op < FRAME_OP_SKIP_LONG)
            return true;
        if (op == FRAME_OP_FILL_LONG || op >= FRAME_OP_FILL_SHORT)
            return column > 0;
        if (op >= FRAME_OP_COPY_ABOVE_LEFT && op <= FRAME_OP_COPY_ABOVE_RIGHT)
            return row_ > 0 && model.height() > 0;
        return false;
    }

    void step(const FrameModel &model, int column, int cost) {
        const int w = model.width();
        const size_t s = static_cast<size_t>(model.stride());
        const size_t start = static_cast<size_t>(row_) * s;
        if (column >= w) {
            for (int i = 0; i < w; i++)
                if (model.bytes()[start + static_cast<size_t>(i)] !=
                    target_[static_cast<size_t>(row_ * w + i)])
                    return;
            best_ = std::min(best_, cost);
            return;
        }
        if (cost + 1 >= best_)
            return;
        const size_t at = start + static_cast<size_t>(column);
        for (int op = 0; op < 256; op++) {
            int n_low = 1, n_high = 1, size = 1;
            if (op >= FRAME_OP_SKIP_LONG) {
                if (op <= FRAME_OP_FILL_LONG)
                    n_low = 2, n_high = FRAME_RUN_MAX, size = 2;
                else
                    n_low = n_high = frame_run_length(static_cast<uint8_t>(op), 0);
            } else if (op != target_[static_cast<size_t>(row_ * w + column)]) {
                continue; // any other literal leaves the pixel wrong for good
            }
            if (cost + size >= best_ || !allowed(static_cast<uint8_t>(op), column, model))
                continue;
            if (op == FRAME_OP_COPY_ABOVE_RIGHT && s < 8)
                n_high = std::min(n_high, 3); // the coder leaves out this group-order case
            for (int n = n_low; n <= n_high; n++) {
                if (at + static_cast<size_t>(n) > model.size() &&
                    !(op == FRAME_OP_SKIP_LONG ||
                      (op >= FRAME_OP_SKIP_SHORT && op < FRAME_OP_FILL_SHORT)))
                    break;
                FrameModel next = model;
                if (!next.apply(static_cast<uint8_t>(op), at, n).empty())
                    continue;
                if (!overrun_ok(next, column + n))
                    continue;
                step(next, column + n, cost + size);
            }
        }
    }

    // Pixels of later rows that a run reached hold their targets.
    bool overrun_ok(const FrameModel &model, int end) const {
        const int w = model.width();
        const size_t s = static_cast<size_t>(model.stride());
        for (size_t x = static_cast<size_t>(row_) * s + static_cast<size_t>(w);
             x < static_cast<size_t>(row_) * s + static_cast<size_t>(end) && x < model.size(); x++)
            if (x % s < static_cast<size_t>(w) &&
                model.bytes()[x] != target_[(x / s) * static_cast<size_t>(w) + x % s])
                return false;
        return true;
    }

    const Frame &target_;
    int row_;
    bool first_;
    int best_ = 0;
};

int cost_of(const std::vector<FrameCode> &codes) {
    int cost = 0;
    for (const FrameCode &code : codes)
        cost += frame_code_size(code);
    return cost;
}

TEST(FrameCoder, RowCostIsTheFewestBytesAnySequenceOfCodesTakes) {
    std::mt19937 random(8);
    int cases = 0, with_runs = 0;
    for (int width = 1; width <= 9; width++) {
        for (int first = 0; first <= 1; first++) {
            for (int trial = 0; trial < 30; trial++) {
                const int height = 3;
                const int row = static_cast<int>(random() % 3);
                FrameCoder coder(width, height);
                FrameModel &model = coder.model();
                const int s = model.stride();
                // Few distinct values, so that runs and copies often fit.
                const int values = 2 + static_cast<int>(random() % 2);
                Frame target(static_cast<size_t>(width * height));
                for (uint8_t &v : target)
                    v = static_cast<uint8_t>(random() % values);
                for (size_t x = 0; x < model.size(); x++) {
                    const int r = static_cast<int>(x) / s, c = static_cast<int>(x) % s;
                    model.bytes()[x] = static_cast<uint8_t>(random() % values);
                    model.known()[x] = c < width ? !first || r < row : random() % 2;
                    if (first && r < row && c < width)
                        model.bytes()[x] = target[static_cast<size_t>(r * width + c)];
                }
                std::vector<FrameCode> codes = coder.code_row(target, row, first);
                const int cost = cost_of(codes);

                FrameModel check = model;
                size_t at = static_cast<size_t>(row * s);
                for (const FrameCode &code : codes) {
                    ASSERT_EQ(check.apply(code.op, at, code.n), "");
                    at += static_cast<size_t>(code.n);
                }
                for (int i = 0; i < width; i++)
                    ASSERT_EQ(check.bytes()[static_cast<size_t>(row * s + i)],
                              target[static_cast<size_t>(row * width + i)]);

                Exhaustive search(target, row, first != 0);
                ASSERT_EQ(search.search(model, cost), cost)
                    << "width " << width << " row " << row << " first " << first << " trial "
                    << trial;
                cases++;
                with_runs += cost < width;
            }
        }
    }
    EXPECT_GT(with_runs, cases / 3); // the cases exercise runs, not just literals
}

// A small moving picture: a background, a block moving over it, a noisy
// patch and a still stripe.
std::vector<Frame> scene(int width, int height, int frames, uint32_t seed) {
    std::mt19937 random(seed);
    std::vector<Frame> out;
    for (int f = 0; f < frames; f++) {
        Frame frame(static_cast<size_t>(width * height));
        for (int y = 0; y < height; y++)
            for (int x = 0; x < width; x++) {
                uint8_t v = static_cast<uint8_t>((x / 5 + y / 3) % 7);
                if (x >= f * 2 && x < f * 2 + 9 && y >= f && y < f + 6)
                    v = static_cast<uint8_t>(100 + (x - f * 2) % 3);
                if (x > width / 2 && y > height / 2 && random() % 4 == 0)
                    v = static_cast<uint8_t>(random() % 240);
                frame[static_cast<size_t>(y * width + x)] = v;
            }
        out.push_back(std::move(frame));
    }
    return out;
}

struct Size {
    int width, height;
};

class RoundTrip : public testing::TestWithParam<Size> {};

TEST_P(RoundTrip, EveryFrameDecodesToItsTargetThroughThePlayersDecoder) {
    const auto [width, height] = GetParam();
    std::vector<Frame> frames = scene(width, height, 8, 1);
    FrameCoder coder(width, height);
    FrameCheck player(width, height);
    size_t bytes = 0;
    for (size_t f = 0; f < frames.size(); f++) {
        std::vector<uint8_t> codes = coder.code_frame(frames[f], f == 0);
        bytes += codes.size();
        ASSERT_EQ(player.decode(codes), "") << "frame " << f;
        ASSERT_EQ(player.pixels(), frames[f]) << "frame " << f;
        ASSERT_EQ(player.buffer(), coder.model().bytes()) << "frame " << f;
    }
    if (width > 2) { // narrower rows have no run shorter than a literal
        EXPECT_LT(bytes, frames.size() * frames[0].size());
    }
}

INSTANTIATE_TEST_SUITE_P(Sizes, RoundTrip,
                         testing::Values(Size{1, 1}, Size{1, 7}, Size{3, 5}, Size{4, 4}, Size{5, 9},
                                         Size{17, 11}, Size{64, 24}, Size{67, 13}),
                         [](const testing::TestParamInfo<Size> &param_info) {
                             return std::to_string(param_info.param.width) + "x" +
                                    std::to_string(param_info.param.height);
                         });

TEST(FrameCoder, MovieDecodesTheSameOverAnyBufferAndAfterARewind) {
    const int width = 29, height = 12; // stride 32: three padding bytes per row
    std::vector<Frame> frames = scene(width, height, 6, 2);
    FrameCoder coder(width, height);
    std::vector<std::vector<uint8_t>> payloads;
    for (size_t f = 0; f < frames.size(); f++)
        payloads.push_back(coder.code_frame(frames[f], f == 0));

    for (uint8_t fill : {uint8_t{0}, uint8_t{0xff}, uint8_t{7}}) {
        FrameCheck player(width, height, fill);
        for (int pass = 0; pass < 2; pass++) // the second pass starts over the last frame
            for (size_t f = 0; f < frames.size(); f++) {
                ASSERT_EQ(player.decode(payloads[f]), "");
                ASSERT_EQ(player.pixels(), frames[f])
                    << "fill " << int(fill) << " pass " << pass << " frame " << f;
            }
    }
}

TEST(FrameCoder, FirstFrameUsesOnlyLiteralsFillsAndCopiesFromAbove) {
    const int width = 13, height = 6;
    Frame frame = scene(width, height, 1, 3)[0];
    FrameCoder coder(width, height);
    std::vector<uint8_t> codes = coder.code_frame(frame, true);
    size_t pos = 0;
    for (int row = 0; row < height; row++)
        for (int column = 0; column < width;) {
            const uint8_t op = codes[pos++];
            int n = 1;
            if (op >= FRAME_OP_SKIP_LONG) {
                const bool fill = op == FRAME_OP_FILL_LONG || op >= FRAME_OP_FILL_SHORT;
                const bool above =
                    op >= FRAME_OP_COPY_ABOVE_LEFT && op <= FRAME_OP_COPY_ABOVE_RIGHT;
                EXPECT_TRUE((fill && column > 0) || (above && row > 0))
                    << "op " << int(op) << " at row " << row << " column " << column;
                n = frame_run_length(op, op <= FRAME_OP_FILL_LONG ? codes[pos++] : 0);
            }
            column += n;
        }
    EXPECT_EQ(pos, codes.size());
}

TEST(FrameCoder, UnchangedFrameCostsTwoBytesPer257PixelsOfSkip) {
    const int width = 640, height = 2;
    Frame frame = scene(width, height, 1, 4)[0];
    FrameCoder coder(width, height);
    coder.code_frame(frame, true);
    std::vector<uint8_t> codes = coder.code_frame(frame, false);
    // 640 = 257 + 257 + 126 per row.
    EXPECT_EQ(codes,
              (std::vector<uint8_t>{240, 255, 240, 255, 240, 124, 240, 255, 240, 255, 240, 124}));
}

TEST(FrameCoder, LossyCodingStaysWithinTheToleranceAndSavesBytes) {
    const int width = 48, height = 20;
    // Values v and v ^ 1 are interchangeable; every other pair is not.
    std::vector<uint8_t> tolerance(240 * 240, 0);
    for (int a = 0; a < 240; a++)
        for (int b = 0; b < 240; b++)
            tolerance[static_cast<size_t>(a * 240 + b)] = (a ^ 1) == b || a == b;
    std::mt19937 random(5);
    std::vector<Frame> frames = scene(width, height, 6, 6);
    for (Frame &frame : frames) // flicker between near-equal values
        for (uint8_t &v : frame)
            if (random() % 3 == 0)
                v ^= 1;
    FrameCoder exact(width, height), lossy(width, height);
    FrameCheck player(width, height);
    size_t exact_bytes = 0, lossy_bytes = 0;
    CoderOptions options;
    options.tolerance = tolerance.data();
    for (size_t f = 0; f < frames.size(); f++) {
        exact_bytes += exact.code_frame(frames[f], f == 0).size();
        std::vector<uint8_t> codes = lossy.code_frame(frames[f], f == 0, options);
        lossy_bytes += codes.size();
        ASSERT_EQ(player.decode(codes), "");
        std::vector<uint8_t> got = player.pixels();
        for (size_t i = 0; i < got.size(); i++)
            ASSERT_TRUE(tolerance[static_cast<size_t>(frames[f][i]) * 240 + got[i]])
                << "frame " << f << " pixel " << i;
    }
    EXPECT_LT(lossy_bytes * 10, exact_bytes * 8);
}

TEST(FrameCoderDeathTest, AFrameOfAnotherSizeEndsTheProcessAsACoderFault) {
    FrameCoder coder(8, 4);
    const std::vector<uint8_t> short_frame(8 * 3, 0);
    EXPECT_DEATH(coder.code_frame(short_frame, true),
                 "frame coder fault: a frame of 24 pixels for a coder of 8 x 4");
}

} // namespace
} // namespace kmov
