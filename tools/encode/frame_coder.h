// The frame coder: turns each frame of palette indices into the fewest code
// bytes that make the player's in-place decoder produce it.
//
// Every row is coded by a dynamic programme over its columns with every
// operation of the format: literals, the long and short skips, the long and
// short fills from the left pixel, the copy from the pixel to the right and
// the copies from the three neighbours below (the previous frame) and above
// (the new frame). For a given buffer at the row's start it finds the fewest
// bytes for the row. A run may pass the row's end into the padding and the
// start of the next row when the bytes it writes there are the next row's
// pixels; whether to do so is decided by coding the next row both ways.
//
// A first frame is coded so that it decodes the same over any buffer: only
// literals, fills (never at column 0) and copies from above (never in row
// 0), and nothing reads a byte the frame has not written, padding included.
// Later frames never read a byte that no frame since the first has written.
//
// Lossy coding: with a tolerance table, a skip, fill or copy may stand for a
// pixel when the colour it leaves is within the tolerance of the target.
#ifndef KMOV_TOOLS_ENCODE_FRAME_CODER_H
#define KMOV_TOOLS_ENCODE_FRAME_CODER_H

#include "encode/frame_model.h"

#include <array>
#include <cstdint>
#include <span>
#include <vector>

namespace kmov {

// One code of a row: a literal (op < 240, n = 1) or a run of n pixels.
struct FrameCode {
    uint8_t op = 0;
    int n = 1;
    bool operator==(const FrameCode &) const = default;
};

// Appends a code's bytes (operation byte, then the count byte if it has one).
void put_frame_code(std::vector<uint8_t> &out, const FrameCode &code);
// The bytes a code takes.
inline int frame_code_size(const FrameCode &code) {
    return frame_op_has_count(code.op) ? 2 : 1;
}

struct CoderOptions {
    // Lossy coding: tolerance[target * 240 + value] is non-zero when `value`
    // may stand for a pixel whose target is `target`. Null: exact.
    const uint8_t *tolerance = nullptr;
    // Lets a row's last run go on into the next row when that codes the two
    // rows in fewer bytes.
    bool runs_past_row_end = true;
};

class FrameCoder {
  public:
    FrameCoder(int width, int height);

    // Codes the next frame: `target` holds width x height palette indices
    // (0..239), row by row without padding. A `first` frame is decoded over
    // an unknown buffer (the movie's first frame). Returns the codes without
    // padding; the model then holds what the decoder holds. A target of
    // another size, or codes that would not give the target (a bug in the
    // coder), end the process with a message on stderr.
    std::vector<uint8_t> code_frame(std::span<const uint8_t> target, bool first,
                                    const CoderOptions &options = {});

    const FrameModel &model() const { return model_; }
    FrameModel &model() { return model_; }

    // Codes one row over the model as it stands, without looking at the next
    // row, and returns its codes (the model is not changed). For the tests.
    std::vector<FrameCode> code_row(std::span<const uint8_t> target, int row, bool first,
                                    const CoderOptions &options = {});

  private:
    struct RowPlan {
        std::vector<int32_t> best;          // best[q]: fewest bytes for columns 0..q-1
        std::vector<uint8_t> op;            // the last code on that path
        std::vector<int32_t> from;          // where that code starts
        std::vector<uint8_t> value;         // the value left at column q-1 (lossy fills)
        std::array<int32_t, 9> run_start{}; // per run operation, at the row's end
    };
    // A run that the row could end with instead, passing the row's end.
    struct Overrun {
        uint8_t op = 0;
        int start = 0, end = 0;     // columns; end > width
        int cost = 0;               // bytes of the row when it ends with this run
        std::vector<uint8_t> bytes; // what it writes from column `width` on
    };

    void plan(RowPlan &plan, int row);
    void find_overruns(const RowPlan &plan, int row, std::vector<Overrun> &out);
    // Carries the codes out on the model; a fault is a bug in the coder.
    void apply_codes(const std::vector<FrameCode> &codes, int row);
    std::vector<FrameCode> codes_of(const RowPlan &plan, int row, int end) const;
    // Value the copy or fill `k` would leave at column i, if it may be used.
    bool source(int k, int row, int i, uint8_t &value) const;

    FrameModel model_;
    int width_, height_, stride_;
    // The frame being coded.
    const uint8_t *target_ = nullptr;
    bool first_ = false;
    const uint8_t *tolerance_ = nullptr;
    RowPlan plans_[3]; // this row, the next row, the next row after a trial run
    // Scratch of the row programme.
    std::vector<uint16_t> match_;  // per column, a bit per operation: may it stand there
    std::vector<uint8_t> sources_; // per operation, per column: the value it leaves
    std::vector<int32_t> deques_;  // per operation: candidate run starts
    struct FillStart {
        uint8_t value;
        int32_t at, cost;
    };
    std::vector<FillStart> fill_starts_;
};

} // namespace kmov

#endif
