#include "baseline_coder.h"

#include "player/frame_codes.h"
#include "player/movie_format.h"

#include <algorithm>
#include <stdexcept>
#include <string>

namespace kmov {

namespace {

// The operation bytes (the decoder's codes from 240 on).
constexpr int OP_SKIP = 240;       // b: leave b + 2
constexpr int OP_FROM_RIGHT = 241; // b: copies, 241 to 247 (source_offset)
constexpr int OP_ABOVE_LEFT = 245; // the first copy from the row above
constexpr int OP_COPY_LAST = 247;
constexpr int OP_FILL = 248;         // b: b + 2 copies of the left byte
constexpr int SHORT_SKIP_BIAS = 247; // 249 to 252 leave op - 247
constexpr int SHORT_SKIP_MAX = 5;
constexpr int SHORT_FILL_BIAS = 251; // 253 to 255 fill op - 251
constexpr int SHORT_FILL_MAX = 4;
constexpr int RUN_BIAS = 2;
constexpr int64_t RUN_MAX = 255 + RUN_BIAS;
constexpr int LITERAL = -1;

// Where a copy reads, relative to the cursor.
int64_t source_offset(int op, int64_t stride) {
    switch (op) {
    case 241:
        return 1;
    case 242:
        return stride - 1;
    case 243:
        return stride;
    case 244:
        return stride + 1;
    case 245:
        return -stride - 1;
    case 246:
        return -stride;
    default: // 247
        return -stride + 1;
    }
}

int code_cost(int op, int64_t n) {
    if (op == OP_SKIP)
        return n <= SHORT_SKIP_MAX ? 1 : 2;
    if (op == OP_FILL)
        return n <= SHORT_FILL_MAX ? 1 : 2;
    return 2;
}

void emit(std::vector<uint8_t> &out, int op, int64_t n) {
    if (op == OP_SKIP && n <= SHORT_SKIP_MAX) {
        out.push_back(static_cast<uint8_t>(SHORT_SKIP_BIAS + n));
    } else if (op == OP_FILL && n <= SHORT_FILL_MAX) {
        out.push_back(static_cast<uint8_t>(SHORT_FILL_BIAS + n));
    } else {
        out.push_back(static_cast<uint8_t>(op));
        out.push_back(static_cast<uint8_t>(n - RUN_BIAS));
    }
}

int32_t checked_stride(int32_t width, int32_t height) {
    if (width < 1 || height < 1)
        throw std::invalid_argument("frame size " + std::to_string(width) + " x " +
                                    std::to_string(height));
    return static_cast<int32_t>((static_cast<int64_t>(width) + 3) & ~int64_t{3});
}

} // namespace

struct BaselineCoder::Choice {
    int op = LITERAL;
    int64_t n = 1;
    int64_t saving = 0; // pixels covered minus code bytes
};

BaselineCoder::BaselineCoder(int32_t width, int32_t height)
    : width_(width), height_(height), stride_(checked_stride(width, height)),
      size_(static_cast<int64_t>(stride_) * height), first_frame_(true),
      buffer_(static_cast<size_t>(size_), 0), known_(static_cast<size_t>(size_), 0) {}

BaselineCoder::BaselineCoder(int32_t width, int32_t height, std::span<const uint8_t> buffer)
    : BaselineCoder(width, height) {
    if (buffer.size() < buffer_.size())
        throw std::invalid_argument("the previous buffer is shorter than height x row_stride");
    std::copy_n(buffer.begin(), buffer_.size(), buffer_.begin());
    std::fill(known_.begin(), known_.end(), 1);
    first_frame_ = false;
}

// How many pixels from the cursor a copy `op` would give as `target` has
// them, with every source byte inside the buffer and known. A source byte
// that the run itself has written holds the target value by then; with a
// source at least 4 bytes back the decoder's four-byte groups give exactly
// that.
int64_t BaselineCoder::match_copy(int op, int64_t pos, int64_t limit, const uint8_t *target) const {
    const int64_t offset = source_offset(op, stride_);
    int64_t i = 0;
    for (; i < limit; i++) {
        int64_t source = pos + offset + i;
        if (source < 0 || source >= size_)
            break;
        uint8_t value;
        if (offset < 0 && source >= pos) {
            value = target[source - pos];
        } else {
            if (!known_[source])
                break;
            value = buffer_[source];
        }
        if (value != target[i])
            break;
    }
    return i;
}

BaselineCoder::Choice BaselineCoder::best_code(int64_t row, int64_t col,
                                               const uint8_t *target) const {
    const int64_t pos = row * stride_ + col;
    const int64_t limit = std::min<int64_t>(width_ - col, RUN_MAX);
    const uint8_t *want = target + col;
    Choice best;
    // Runs stay inside the row (a run past its end never saves a byte), so
    // nothing is written outside the buffer; earlier candidates win ties.
    auto consider = [&](int op, int64_t n) {
        if (n < 2)
            return;
        int64_t saving = n - code_cost(op, n);
        if (saving > best.saving)
            best = {op, n, saving};
    };

    if (!first_frame_) {
        int64_t n = 0;
        while (n < limit && known_[pos + n] && buffer_[pos + n] == want[n])
            n++;
        consider(OP_SKIP, n);
    }
    if (pos >= 1 && known_[pos - 1] && !(first_frame_ && col == 0)) {
        uint8_t value = buffer_[pos - 1];
        int64_t n = 0;
        while (n < limit && want[n] == value)
            n++;
        consider(OP_FILL, n);
    }
    for (int op = OP_FROM_RIGHT; op <= OP_COPY_LAST; op++) {
        if (first_frame_ && (op < OP_ABOVE_LEFT || row == 0))
            continue;
        // A source 1 to 3 bytes back (247 on a 4-byte stride) reads bytes of
        // its own group before they are written: left to the other codes.
        int64_t offset = source_offset(op, stride_);
        if (offset < 0 && offset > -4)
            continue;
        consider(op, match_copy(op, pos, limit, want));
    }
    return best;
}

// Carries out a run as the decoder does, bytes and certainty alike.
void BaselineCoder::apply(int op, int64_t pos, int64_t n) {
    auto get = [&](int64_t i) { return i >= 0 && i < size_ ? buffer_[i] : uint8_t{0}; };
    auto sure = [&](int64_t i) { return i >= 0 && i < size_ ? known_[i] : uint8_t{0}; };
    auto put = [&](int64_t i, uint8_t value, uint8_t certain) {
        if (i < size_) {
            buffer_[i] = value;
            known_[i] = certain;
        }
    };
    if (op == OP_SKIP)
        return;
    if (op == OP_FILL) {
        uint8_t value = get(pos - 1), certain = sure(pos - 1);
        for (int64_t i = 0; i < n; i++)
            put(pos + i, value, certain);
        return;
    }
    const int64_t from = pos + source_offset(op, stride_);
    int64_t i = 0;
    for (; i + 4 <= n; i += 4) {
        uint8_t values[4], certain[4];
        for (int k = 0; k < 4; k++) {
            values[k] = get(from + i + k);
            certain[k] = sure(from + i + k);
        }
        for (int k = 0; k < 4; k++)
            put(pos + i + k, values[k], certain[k]);
    }
    for (; i < n; i++)
        put(pos + i, get(from + i), sure(from + i));
}

std::vector<uint8_t> BaselineCoder::encode(std::span<const uint8_t> pixels, size_t pixel_stride) {
    const size_t stride = pixel_stride == 0 ? static_cast<size_t>(width_) : pixel_stride;
    if (stride < static_cast<size_t>(width_) ||
        pixels.size() < (static_cast<size_t>(height_) - 1) * stride + width_)
        throw std::invalid_argument("the frame is shorter than its size");
    for (int32_t row = 0; row < height_; row++)
        for (int32_t col = 0; col < width_; col++)
            if (pixels[row * stride + col] >= FRAME_OP_FIRST)
                throw std::invalid_argument("pixel value above 239 at " + std::to_string(col) +
                                            ", " + std::to_string(row));

    std::vector<uint8_t> out;
    for (int64_t row = 0; row < height_; row++) {
        const uint8_t *target = pixels.data() + row * stride;
        for (int64_t col = 0; col < width_;) {
            Choice choice = best_code(row, col, target);
            int64_t pos = row * stride_ + col;
            if (choice.op == LITERAL) {
                out.push_back(target[col]);
                buffer_[pos] = target[col];
                known_[pos] = 1;
            } else {
                emit(out, choice.op, choice.n);
                apply(choice.op, pos, choice.n);
            }
            col += choice.n;
        }
    }
    first_frame_ = false;

    for (int64_t row = 0; row < height_; row++)
        for (int64_t col = 0; col < width_; col++) {
            int64_t pos = row * stride_ + col;
            if (!known_[pos] || buffer_[pos] != pixels[row * stride + col])
                throw std::logic_error("baseline coder: the codes do not give the frame");
        }
    return out;
}

} // namespace kmov
