// The wave-out set-up and the "adat" decoder alone: a random ldp, pool size
// (samples_per_buffer, buffer_pairs), a few blocks with random param and
// length, and their payload stream in the ring. Each buffer holds exactly
// samples_per_buffer samples (the sanitizer sees a write past it); what
// each queued buffer holds is compared with the reference decoder, every block
// must leave the ring behind its payload, and an unsupported ldp must be
// reported with its message.
//
// Input: mode (bits 0-1: ldp 4, 6, the next byte's value, or 4 with no
// device; bit 2: an error box is already up), that byte, samples_per_buffer
// (3 bytes, little-endian, mod 5001: mostly below the 65535 samples a block
// can ask for), buffer_pairs (mod 5), the block count (mod 8, plus 1), then
// per block param (4 bytes), length (2 bytes, signed) and whether to
// complete a queued buffer first (1 byte); the rest is the payload stream.
#include "fuzz_support.h"

#include "app/fatal_error.h"
#include "headless.h"
#include "player/audio_decoder.h"
#include "player/player_state.h"
#include "reference_decoder.h"
#include "stream/prefetch_ring.h"

#include <cstdint>
#include <string>
#include <vector>

namespace {

constexpr size_t kHeaderBytes = 7;
constexpr size_t kBlockBytes = 7;

uint32_t le(const uint8_t *p, int count) {
    uint32_t value = 0;
    for (int i = count - 1; i >= 0; i--)
        value = (value << 8) | p[i];
    return value;
}

struct Block {
    uint32_t param;
    int32_t length;
    bool complete_first;
};

struct Input {
    int32_t ldp;
    bool device;
    bool box_up;
    int32_t samples_per_buffer;
    int32_t buffer_pairs;
    std::vector<Block> blocks;
    const uint8_t *stream;
    int32_t stream_size;
};

void run(void *context) {
    const Input &input = *static_cast<Input *>(context);
    headless_set_audio_device(input.device);
    if (input.box_up)
        fatal_error_shown = 1;
    ldp = input.ldp;
    if (!wave_output_open(WAVE_MAPPER, 22050, input.ldp, input.samples_per_buffer,
                          input.buffer_pairs))
        return;
    if (input.device && wave_out == nullptr)
        kmov::fuzz::finding("no wave-out device although one is there");

    if (!ring_create(input.stream_size))
        kmov::fuzz::finding("ring_create failed");
    movie_source = nullptr;
    for (int32_t i = 0; i < input.stream_size; i++)
        ring_data[i] = input.stream[i];
    ring_write = input.stream_size;
    ring_fill = input.stream_size;

    int bits = delta_table == delta_table_16 ? 4 : delta_table == delta_table_64 ? 6 : 0;
    int32_t at = 0; // stream offset of the next payload
    for (const Block &block : input.blocks) {
        if (block.complete_first)
            headless_audio_complete(1);
        size_t writes = 0;
        for (const HeadlessAudioEvent &event : headless_audio_events())
            writes += event.kind == HeadlessAudioEvent::WRITE;
        bool has_free =
            wave_out != nullptr && headless_audio_queued() < static_cast<size_t>(wave_header_count);

        current_param = block.param;
        current_length = block.length;
        decode_audio_block();

        int32_t left = input.stream_size - at;
        int32_t taken = block.length <= 0 ? 0 : block.length < left ? block.length : left;
        if (current_length != 0)
            kmov::fuzz::finding("current_length is not 0 after the block");
        if (ring_fill != left - taken || (ring_read & ring_mask) != ((at + taken) & ring_mask))
            kmov::fuzz::finding("the ring does not stand behind the block's payload");

        size_t writes_after = 0;
        const HeadlessAudioEvent *last = nullptr;
        for (const HeadlessAudioEvent &event : headless_audio_events())
            if (event.kind == HeadlessAudioEvent::WRITE) {
                writes_after++;
                last = &event;
            }
        bool queued = has_free && bits != 0;
        if (writes_after != writes + (queued ? 1 : 0))
            kmov::fuzz::finding(queued ? "a block with a free buffer was not queued"
                                       : "a block without a free buffer was queued");
        if (queued && last->samples != kmov::test::reference_decode_sound(input.stream + at, taken,
                                                                          bits, block.param,
                                                                          input.samples_per_buffer))
            kmov::fuzz::finding("the samples differ from the reference decoder's");
        at += taken;
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
    if (size < kHeaderBytes)
        return 0;
    Input input;
    const int choices[] = {4, 6, data[1], 4};
    input.ldp = choices[data[0] & 3];
    input.device = (data[0] & 3) != 3;
    input.box_up = (data[0] & 4) != 0;
    input.samples_per_buffer = static_cast<int32_t>(le(data + 2, 3) % 5001);
    input.buffer_pairs = data[5] % 5;
    size_t count = data[6] % 8 + 1;
    size_t at = kHeaderBytes;
    for (size_t i = 0; i < count && at + kBlockBytes <= size; i++, at += kBlockBytes)
        input.blocks.push_back({le(data + at, 4), static_cast<int16_t>(le(data + at + 4, 2)),
                                (data[at + 6] & 1) != 0});
    input.stream = data + at;
    input.stream_size = static_cast<int32_t>(size - at);

    std::string message;
    bool returned = kmov::fuzz::run_guarded(run, &input, &message);
    bool refused = input.device && !input.box_up && input.ldp != 4 && input.ldp != 6;
    if (refused && (returned || message != "ldp " + std::to_string(input.ldp) + " not supported"))
        kmov::fuzz::finding("an unsupported ldp was not reported");
    if (!refused && !returned)
        kmov::fuzz::finding(("a failure was reported: " + message).c_str());
    return 0;
}
