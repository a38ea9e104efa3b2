// The one way into the player from outside it. The tools, the fuzz targets
// and the benchmarks reach the player's process-wide state only through
// these calls, on the headless backend:
//
// - decode one "vdat" payload with the player's decoder over a buffer of
//   the caller's (harness_decode_payload, PayloadStream), and one "adat"
//   block with its sound decoder (harness_decode_sound_block);
// - play a movie to its end with its frames and sound handed out
//   (play_headless), a turn at a time where the caller drives the loop
//   (harness_play_turn);
// - run the player guarded (harness_run_guarded), so that its fatal error,
//   which would show a box and end the process, comes back as a value
//   carrying the player's own message.
//
// A movie is damaged, for the tools, when the player refuses it in such a
// run: no rule of the player's is restated here.
#ifndef KMOV_TOOLS_PLAYER_HARNESS_H
#define KMOV_TOOLS_PLAYER_HARNESS_H

#include "error.h"
#include "movie_writer.h"

#include <array>
#include <cstdint>
#include <functional>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace kmov {

// ---- Guarded runs ----------------------------------------------------------------

// Runs body(context) with the player's fatal error caught: returns true when
// the body returned, false when the player reported a failure, whose text
// (code page 932 bytes, as the player's box shows them) is then put in
// *message. The body must hold nothing that needs destroying: a failure
// leaves it by a jump from inside the box. Afterwards the movie is closed,
// the event table and the pump's flags are cleared and fatal_error may show
// a box again. A body that sets fatal_error_shown runs as if a box were
// already up: every failure then returns to its caller, which goes on.
bool harness_run_guarded(void (*body)(void *), void *context, std::string *message = nullptr);

// True when the player holds nothing: no movie, file, ring, bitmap, device
// or palette. What a guarded run must leave behind.
bool harness_player_at_rest();

// ---- Decoding ----------------------------------------------------------------------

// What the decoder left of a payload.
struct PayloadDecode {
    int32_t length_left = 0;   // the record's length not consumed (0 when whole)
    int32_t ring_left = 0;     // bytes still held in the ring
    int32_t ring_position = 0; // the ring's read index afterwards
};

// Decodes one payload with the player's decoder, in place over `frame`
// (height rows of `stride` bytes, `width` pixels wide). The ring holds
// exactly the payload, starting at array index ring_start (masked), with no
// file behind it, and the record says `length` bytes. nullopt when the ring
// cannot be had.
std::optional<PayloadDecode> harness_decode_payload(uint8_t *frame, int32_t width, int32_t height,
                                                    int32_t stride,
                                                    std::span<const uint8_t> payload,
                                                    int32_t length, int32_t ring_start = 0);

// Payloads laid one after the other in the player's ring, each padded to a
// multiple of 4 as a record's would be, to be decoded again and again (the
// decoder's benchmark). Holds the ring while it lives; one at a time.
class PayloadStream {
  public:
    explicit PayloadStream(const std::vector<std::vector<uint8_t>> &payloads);
    ~PayloadStream();
    PayloadStream(const PayloadStream &) = delete;
    PayloadStream &operator=(const PayloadStream &) = delete;

    bool ok() const { return ok_; }
    // Decodes every payload in order over `frame`, from the ring's start.
    void decode_all(uint8_t *frame, int32_t width, int32_t height, int32_t stride);

  private:
    std::vector<int32_t> lengths_;
    int32_t total_ = 0;
    bool ok_ = false;
};

// Decodes one "adat" block's codes with the player's sound decoder: `count`
// samples (1 to 65535) at `ldp` 4 or 6, read from `codes` as a record's
// payload of codes.size() bytes (zeros past its end, as the player reads
// them). nullopt when the player refuses (another ldp) or `count` is out
// of range. Runs guarded; not while a playback is under way.
std::optional<std::vector<int16_t>> harness_decode_sound_block(std::span<const uint8_t> codes,
                                                               int ldp, int count);

// ---- Playing -----------------------------------------------------------------------

// One turn of headless playback: the clock goes straight to the pending
// record's due time, the pump turns once, and every queued wave buffer is
// completed (so no block is dropped for want of a free one).
void harness_play_turn();

struct PresentedFrame {
    uint32_t time_ms; // headless clock when it was presented (0 = first frame)
    int width, height;
    const uint8_t *pixels; // width * height palette indices, rows without padding
    const std::array<Rgb, 256> *colours;
};

struct PlaybackLimits {
    uint64_t max_records = 10'000'000; // ends a playback that would not end
    // Reaching max_records is an Error; when false, the playback just stops
    // there (PlaybackResult::ended false), as for a movie cut short whose
    // player waits at the cut for records that never come.
    bool limit_is_error = true;
};

struct PlaybackResult {
    uint64_t frames = 0;
    uint64_t audio_blocks = 0;
    uint32_t duration_ms = 0; // clock at the end
    bool ended = true;        // false: stopped at max_records
};

// Opens the movie at file offset `offset` of `path` with player_open, plays
// it to its end on the headless backend and calls `on_frame` for every
// present and `on_audio` (if set) for every queued sound block, in order.
// The player's own failure comes back as an Error carrying its message
// (in UTF-8); what was handed out before it stands.
Expected<PlaybackResult> play_headless(const std::string &path, int64_t offset,
                                       const std::function<void(const PresentedFrame &)> &on_frame,
                                       const std::function<void(const int16_t *, size_t)> &on_audio,
                                       const PlaybackLimits &limits = {});

// ---- The player's messages in a command -------------------------------------------

// The player's code reports failures with a code page 932 message box; in
// the tools that box is the headless one. This turns its raw echo off and
// prints each message as "kmov COMMAND: text" in UTF-8 instead.
void report_player_errors(const std::string &command);

} // namespace kmov

#endif
